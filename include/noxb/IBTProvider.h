// The provider interface a host drives, and the device entries it exchanges.
#ifndef NOXB_IBTPROVIDER_H
#define NOXB_IBTPROVIDER_H

#include <cstdint>
#include <string>
#include <vector>

// One device found by Scan, as the host sees it.
struct BleDeviceEntry {
    std::wstring name;
    std::wstring address;  // "xx:xx:xx:xx:xx:xx", lower-case hex
    bool firstPass;
    bool connectable;
};

namespace noxb {

// Sixteen slots, 0 (the destructor) to 15, in declaration order. The order is
// the module's ABI: never reorder, insert or remove a slot.
class IBTProvider {
  public:
    virtual ~IBTProvider() = default;
    virtual std::vector<BleDeviceEntry> Scan(std::int64_t durationMs) = 0;
    virtual void Reserved2() = 0;
    virtual std::uint32_t Connect(const BleDeviceEntry& device) = 0;
    // A handle that is not connected (never returned by Connect, or already
    // disconnected) touches no device: the call logs an Error record "didn't
    // found BLE service" and returns normally, so disconnecting twice is harmless.
    virtual void Disconnect(const std::uint32_t& handle) = 0;
    virtual void Send(const std::uint32_t& handle, const std::vector<std::uint8_t>& data) = 0;
    virtual void Receive(const std::uint32_t& handle, std::int64_t timeoutMs,
                         std::vector<std::uint8_t>& data) = 0;
    virtual bool Reserved7() = 0;
    virtual std::int16_t GetRSSI(const BleDeviceEntry& device) = 0;
    virtual void Reserved9() = 0;
    virtual void Reserved10(void* first, void* second, void* third) = 0;
    virtual void Reserved11(void* first, void* second, void* third) = 0;
    virtual void Reserved12() = 0;
    virtual void Reserved13() = 0;
    virtual void Reserved14() = 0;
    virtual void Reserved15() = 0;

  protected:
    IBTProvider() = default;
    IBTProvider(const IBTProvider&) = default;
    IBTProvider& operator=(const IBTProvider&) = default;
};

}  // namespace noxb

#endif  // NOXB_IBTPROVIDER_H
