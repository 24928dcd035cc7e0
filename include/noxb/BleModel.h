// The module's model of a remote device, as a host sees it through
// IBleGattEvents: a BleDevice (its first bytes are the stack's device record,
// address first), its services, their characteristics, and each
// characteristic's value holder with the notification buffer.
//
// A host reads the public fields; the member functions are the module's own
// and are not exported. The module's private state follows the public
// fields, so their offsets never depend on it.
#ifndef NOXB_BLEMODEL_H
#define NOXB_BLEMODEL_H

#include <leapi/leapi.h>
#include <noxb/IBleGattEvents.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

class BleService;
class BleCharacteristicInfo;

// The session handle that names no session.
inline constexpr std::uint64_t kNoSession = ~std::uint64_t{0};

// The value holder of one characteristic. `value` comes first, so the
// holder's address is its record's address.
class BleCharacteristic {
  public:
    BleCharacteristic(std::uint16_t handle, std::vector<std::uint8_t> bytes);
    BleCharacteristic(const BleCharacteristic&) = delete;
    BleCharacteristic& operator=(const BleCharacteristic&) = delete;

    // Empties the record (length 0) and the notification buffer.
    void Clear();

    // Notification and indication bytes collected since the last read. The
    // stack's threads append to it: read it through TakeNotifications().
    CharacteristicValue value;
    std::stringstream notificationBuffer;

    // The bytes in notificationBuffer, leaving it empty. Safe on any thread,
    // also inside IBleGattEvents::OnCharacteristicData.
    std::string TakeNotifications() {
        return WithBuffer([this] {
            std::string bytes = notificationBuffer.str();
            notificationBuffer.str(std::string());
            notificationBuffer.clear();
            return bytes;
        });
    }

    // Guards value and notificationBuffer against the stack's callback thread.
    std::mutex bufferGuard;

  private:
    friend class BleCharacteristicInfo;
    // Runs `access` with bufferGuard held.
    template <class F>
    auto WithBuffer(F access) -> decltype(access()) {
        std::lock_guard<std::mutex> hold(bufferGuard);
        return access();
    }
};

// The data characteristic of a device's data service.
class BleCharacteristicInfo {
  public:
    BleCharacteristicInfo(const LeCharacteristicRecord& record, BleDevice* owner);
    BleCharacteristicInfo(const BleCharacteristicInfo&) = delete;
    BleCharacteristicInfo& operator=(const BleCharacteristicInfo&) = delete;

    // Long write of at most 512 bytes; throws on a stack failure.
    void WriteLong(const std::vector<std::uint8_t>& bytes);
    // Polled long read; `out` holds the bytes read, empty after a time-out.
    void ReadLong(std::vector<std::uint8_t>& out, std::int64_t timeoutMs);
    // Writes the client configuration descriptor (notifications on).
    void SetDescriptor();
    // The stack's value callback; `context` is the BleCharacteristicInfo.
    static void OnCharacteristicCallback(std::uint32_t event, const void* data, void* context);

    LeCharacteristicRecord characteristicRecord;
    std::shared_ptr<BleCharacteristic> characteristic;
    BleDevice* device;  // the owner of the service, not owned
    LeUuid uuid;
};

class BleService {
  public:
    BleService(BleDevice* owner, const LeServiceRecord& record);
    BleService(const BleService&) = delete;
    BleService& operator=(const BleService&) = delete;

    // Replaces the characteristics with those of one discovery run.
    void CharacteristicsDiscovery(std::uint64_t discoveryHandle, std::uint16_t count);
    // The data characteristic; throws ProviderServiceNotFoundException.
    std::shared_ptr<BleCharacteristicInfo> FindCharacteristic();

    BleDevice* device;  // the owner, not owned
    LeServiceRecord serviceRecord;
    std::vector<std::shared_ptr<BleCharacteristicInfo>> characteristics;
    LeUuid uuid;
};

class BleDevice {
  public:
    // Devices live in shared pointers only: the module keeps a device alive
    // while the stack may still call it back.
    // `owner` tags the device with what made it (a provider's stack
    // interface), so that a provider lets go of its own devices only.
    static std::shared_ptr<BleDevice> Create(const LeDeviceRecord& record,
                                             IBleGattEvents* eventSink, void* eventContext,
                                             const void* owner = nullptr);
    BleDevice(const BleDevice&) = delete;
    BleDevice& operator=(const BleDevice&) = delete;

    void GATTSessionEstablish();
    void GATTSessionClose();
    void RefreshServices();
    void ServicesDiscovery(std::uint64_t discoveryHandle, std::uint16_t count);
    std::shared_ptr<BleService> FindService();
    bool RecoveryConnection();
    static void OnDeviceEvent(std::uint32_t event, const void* data, void* context);
    void OnDeviceCallback(std::uint32_t event, const void* data);

    // Snapshots of the fields the stack's callback thread also writes.
    std::uint64_t SessionHandle() const;
    std::uint16_t SessionExtra() const;
    bool RefreshNeeded() const;
    const void* Owner() const { return owner; }

    LeDeviceRecord deviceInfo;
    std::uint64_t sessionHandle;
    std::uint16_t sessionExtra;
    std::vector<std::shared_ptr<BleService>> services;
    bool refreshNeeded;
    IBleGattEvents* eventSink;  // the host's, may be null
    void* eventContext;

  private:
    friend class BleService;
    BleDevice(const LeDeviceRecord& record, IBleGattEvents* sink, void* context);
    void SetSession(std::uint64_t session);
    void Retire(std::shared_ptr<void> replaced);
    // Records `session` as the opened one, with sessionGuard held.
    void OpenedLocked(std::uint64_t session);
    // Runs `access` with sessionGuard held: the module's one way to the
    // fields it guards, so that no access can forget the guard.
    template <class F>
    auto WithSession(F access) const {
        std::lock_guard<std::mutex> hold(sessionGuard);
        return access();
    }

    // Guards sessionHandle, sessionExtra, refreshNeeded, linkLost and
    // openedSession, which the stack's callback thread writes while host
    // operations run.
    mutable std::mutex sessionGuard;
    // A session replaced by an opening before it was closed (one whose link
    // was lost, event 0x1020, is forgotten and never closed) may still be
    // called back by the stack, so this device is kept as long as it lives.
    bool linkLost = false;
    // The session this device opened or adopted: the only one whose close
    // ends the stack's callbacks to it. An event can name another handle.
    std::uint64_t openedSession = kNoSession;
    // Services and characteristics replaced by a refresh: earlier
    // subscriptions still name them, so they live until the session closes.
    std::vector<std::shared_ptr<void>> retired;
    std::weak_ptr<BleDevice> self;
    const void* owner = nullptr;
};

#endif  // NOXB_BLEMODEL_H
