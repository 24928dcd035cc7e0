// Ends a stack discovery run however the code reading it is left, so that a
// failed read never leaves a run open in the stack.
#ifndef NOXB_BLEGATTWRAPPER_DISCOVERYRUN_H
#define NOXB_BLEGATTWRAPPER_DISCOVERYRUN_H

#include <cstdint>

class DiscoveryRun {
  public:
    using EndCall = std::uint32_t (*)(std::uint64_t handle);
    DiscoveryRun(EndCall endCall, std::uint64_t runHandle) : end(endCall), handle(runHandle) {}
    ~DiscoveryRun() { end(handle); }  // the End call's result is not looked at
    DiscoveryRun(const DiscoveryRun&) = delete;
    DiscoveryRun& operator=(const DiscoveryRun&) = delete;

  private:
    EndCall end;
    std::uint64_t handle;
};

#endif  // NOXB_BLEGATTWRAPPER_DISCOVERYRUN_H
