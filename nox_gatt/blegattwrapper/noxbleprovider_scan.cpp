// Scan and the device registry.
#include <noxb/Exceptions.h>

#include "noxbleprovider.h"

std::vector<BleDeviceEntry> NoxBleProvider::Scan(std::int64_t /*durationMs*/) {
    // Comes with the device model (BleDevice); until then no device is found.
    throw noxb::BluetoothProvider::ConnectionFailedException();
}
