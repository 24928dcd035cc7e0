// One provider from the loaded module, with what noxble remembers between
// commands: the last scan's entries and the current connection.
#ifndef NOXBLE_HOSTSESSION_H
#define NOXBLE_HOSTSESSION_H

#include <noxb/IBTProvider.h>
#include <noxb/IBleGattEvents.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "modulelibrary.h"

// Prints what the module reports through the events interface; it is called
// on the stack's threads.
class EventPrinter final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void* ctx, BleDevice* device) override;
    void OnCharacteristicData(void* ctx, BleCharacteristicInfo* characteristic) override;
    void OnSessionEstablished(void* ctx, std::uint64_t session) override;

    // Notifications received so far, in arrival order (bytes of each report).
    std::vector<std::vector<std::uint8_t>> Notifications() const;
    void Quiet(bool on);

  private:
    void Say(const std::string& line);
    mutable std::mutex lock;
    std::vector<std::vector<std::uint8_t>> notifications;
    bool quiet = false;
};

class HostSession {
  public:
    explicit HostSession(const std::string& modulePath);
    ~HostSession();  // disconnects what is still connected
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Scans; shows progress on a terminal. Remembers the entries.
    const std::vector<BleDeviceEntry>& Scan(std::int64_t durationMs);
    const std::vector<BleDeviceEntry>& Entries() const { return entries; }
    // By address text or by index into the last scan's entries.
    const BleDeviceEntry& Select(const std::string& addressOrIndex) const;
    std::uint32_t Connect(const BleDeviceEntry& entry);
    void Send(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> Receive(std::int64_t timeoutMs);
    std::int16_t Rssi();
    void Disconnect();
    bool Connected() const { return handle.has_value(); }
    const BleDeviceEntry& ConnectedEntry() const;
    EventPrinter& Events() { return events; }

  private:
    void RequireConnection() const;

    ModuleLibrary module;
    EventPrinter events;
    std::unique_ptr<noxb::IBTProvider> provider;
    std::vector<BleDeviceEntry> entries;
    std::optional<std::uint32_t> handle;
    BleDeviceEntry connected{};
};

#endif  // NOXBLE_HOSTSESSION_H
