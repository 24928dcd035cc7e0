// The events interface a host may hand to CreateBleGattInstanceWithEvents.
// The module calls it on the LE stack's callback threads.
#ifndef NOXB_IBLEGATTEVENTS_H
#define NOXB_IBLEGATTEVENTS_H

#include <cstdint>

class BleDevice;
class BleCharacteristicInfo;

// Exactly three slots in this order and no virtual destructor: the module
// never owns or deletes the host's events object.
class IBleGattEvents {
  public:
    virtual void OnDeviceDisconnected(void* ctx, BleDevice* device) = 0;
    virtual void OnCharacteristicData(void* ctx, BleCharacteristicInfo* characteristic) = 0;
    virtual void OnSessionEstablished(void* ctx, std::uint64_t session) = 0;

  protected:
    IBleGattEvents() = default;
    IBleGattEvents(const IBleGattEvents&) = default;
    IBleGattEvents& operator=(const IBleGattEvents&) = default;
    ~IBleGattEvents() = default;
};

#endif  // NOXB_IBLEGATTEVENTS_H
