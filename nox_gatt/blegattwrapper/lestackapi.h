#ifndef NOXB_BLEGATTWRAPPER_LESTACKAPI_H
#define NOXB_BLEGATTWRAPPER_LESTACKAPI_H

#include <noxb/IBleGattEvents.h>

#include <cstdint>
#include <memory>
#include <vector>

// The provider's wrapper around the stack's device discovery. It hands the
// host's events object and context to every device it creates.
class LeStackApi {
  public:
    LeStackApi(IBleGattEvents* eventSink, void* eventContext);
    virtual ~LeStackApi() = default;
    LeStackApi(const LeStackApi&) = delete;
    LeStackApi& operator=(const LeStackApi&) = delete;

    // One discovery run; `flags` go to the stack unchanged.
    virtual std::vector<std::shared_ptr<BleDevice>> DevicesDiscovery(std::uint8_t flags,
                                                                     std::uint8_t durationSeconds);

    // The stack-wide callback given to LEAPI_Initialize; `context` is the
    // LeStackApi. The provider keeps nothing from stack-wide events.
    static void OnStackEvent(unsigned int event, const void* data, void* context);

    IBleGattEvents* eventSink;
    void* eventContext;
};

#endif  // NOXB_BLEGATTWRAPPER_LESTACKAPI_H
