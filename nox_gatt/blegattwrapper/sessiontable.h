// Process-wide bookkeeping of GATT sessions, shared by every provider.
#ifndef NOXB_BLEGATTWRAPPER_SESSIONTABLE_H
#define NOXB_BLEGATTWRAPPER_SESSIONTABLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "guarded.h"

class BleDevice;

using BleAddress = std::array<std::uint8_t, 6>;

BleAddress AddressOf(const BleDevice& device);

// Which session the stack opened for which device address. Keys compare
// byte by byte, first byte first (std::array's ordering). Stack callbacks
// and host operations both change it, hence its own lock.
class SessionTable {
  public:
    void Set(const BleAddress& address, std::uint64_t session);
    void Erase(const BleAddress& address);
    std::optional<std::uint64_t> Find(const BleAddress& address) const;
    std::size_t Size() const;
    void Clear();

  private:
    Guarded<std::map<BleAddress, std::uint64_t>> entries;
};

extern SessionTable sessionsByAddress;

// Devices the stack may still call back: a device's session callback and its
// subscriptions name the device and its objects, so from the opening of a
// session until the stack has closed it the device is kept here, whoever
// else lets go of it.
class CallbackHolders {
  public:
    void Hold(const std::shared_ptr<BleDevice>& device);
    void Release(const BleDevice* device);
    // The stack was uninitialised: it calls none of the devices `owner`
    // made back any more. Other providers' devices stay held: whether the
    // stack still serves them is the stack's business, not this provider's.
    void ReleaseOwnedBy(const void* owner);
    // Every device, whoever made it (tests, between worlds).
    void ReleaseAll();
    std::size_t Size() const;

  private:
    using Devices = std::map<const BleDevice*, std::shared_ptr<BleDevice>>;
    Guarded<Devices> held;
};

extern CallbackHolders callbackHolders;

#endif  // NOXB_BLEGATTWRAPPER_SESSIONTABLE_H
