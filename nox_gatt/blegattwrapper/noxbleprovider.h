#ifndef NOXB_BLEGATTWRAPPER_NOXBLEPROVIDER_H
#define NOXB_BLEGATTWRAPPER_NOXBLEPROVIDER_H

#include <noxb/IBTProvider.h>
#include <noxb/IBleGattEvents.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "guarded.h"
#include "lestackapi.h"

// Every wait for the operation lock is a whole multiple of this.
inline constexpr std::chrono::seconds kLockTimeout{1};

// The provider behind noxb::IBTProvider. Construction initialises the LE
// stack; destruction uninitialises it when construction did.
class NoxBleProvider final : public noxb::IBTProvider {
  public:
    NoxBleProvider(IBleGattEvents* eventSink, void* eventContext);
    ~NoxBleProvider() override;
    NoxBleProvider(const NoxBleProvider&) = delete;
    NoxBleProvider& operator=(const NoxBleProvider&) = delete;

    std::vector<BleDeviceEntry> Scan(std::int64_t durationMs) override;
    void Reserved2() override;
    std::uint32_t Connect(const BleDeviceEntry& device) override;
    void Disconnect(const std::uint32_t& handle) override;
    void Send(const std::uint32_t& handle, const std::vector<std::uint8_t>& data) override;
    void Receive(const std::uint32_t& handle, std::int64_t timeoutMs,
                 std::vector<std::uint8_t>& data) override;
    bool Reserved7() override;
    std::int16_t GetRSSI(const BleDeviceEntry& device) override;
    void Reserved9() override;
    void Reserved10(void* first, void* second, void* third) override;
    void Reserved11(void* first, void* second, void* third) override;
    void Reserved12() override;
    void Reserved13() override;
    void Reserved14() override;
    void Reserved15() override;

    LeStackApi* StackApi() const { return stackApi.get(); }

    // Appends one discovery pass's entries to `result`; first-pass devices
    // that may be connected go into the registry.
    void AddDiscoveredDevices(const std::vector<std::shared_ptr<BleDevice>>& found, bool firstPass,
                              std::vector<BleDeviceEntry>& result);
    // The registry device with the entry's address text, or empty.
    std::shared_ptr<BleDevice> FindBleDevice(const BleDeviceEntry& device);
    // The connected device behind a service handle; throws
    // ProviderServiceNotFoundException.
    std::shared_ptr<BleDevice> FindBleDevice(std::uint32_t handle);
    bool StackInitialised() const { return stackInitialised; }

  private:
    using OperationGuard = std::unique_lock<std::recursive_timed_mutex>;
    // Waits up to `waits` times kLockTimeout for operationLock; the guard
    // owns the lock only when it was taken in time.
    OperationGuard TakeOperationLock(int waits);

    // Declared before the devices it makes, so that it outlives them.
    std::unique_ptr<LeStackApi> stackApi;
    // Devices of the last scan that may be connected. Scan rebuilds it
    // without the operation lock: a host that scans while another thread
    // connects must not tear it.
    Guarded<std::vector<std::shared_ptr<BleDevice>>> devices;
    // Service handle -> connected device.
    std::map<std::uint32_t, std::shared_ptr<BleDevice>> connections;
    bool stackInitialised{};    // set by the constructor
    IBleGattEvents* eventSink;  // the host's, not owned; may be null
    void* eventContext;         // handed back to the host, never read
    std::recursive_timed_mutex operationLock;
};

#endif  // NOXB_BLEGATTWRAPPER_NOXBLEPROVIDER_H
