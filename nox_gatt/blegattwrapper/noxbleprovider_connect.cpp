// Connect and disconnect.
#include <noxb/Exceptions.h>

#include "noxbleprovider.h"

std::uint32_t NoxBleProvider::Connect(const BleDeviceEntry& /*device*/) {
    // Comes with the GATT session; until then no connection can be made.
    throw noxb::BluetoothProvider::ConnectionFailedException();
}

void NoxBleProvider::Disconnect(const std::uint32_t& /*handle*/) {
    throw noxb::BluetoothProvider::ConnectionFailedException();
}
