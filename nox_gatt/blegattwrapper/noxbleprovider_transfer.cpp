// Send, receive and signal strength.
#include <noxb/Exceptions.h>

#include "noxbleprovider.h"

void NoxBleProvider::Send(const std::uint32_t& /*handle*/,
                          const std::vector<std::uint8_t>& /*data*/) {
    // Comes with characteristic data transfer; until then nothing is connected.
    throw noxb::BluetoothProvider::ConnectionFailedException();
}

void NoxBleProvider::Receive(const std::uint32_t& /*handle*/, std::int64_t /*timeoutMs*/,
                             std::vector<std::uint8_t>& /*data*/) {
    throw noxb::BluetoothProvider::ConnectionFailedException();
}

std::int16_t NoxBleProvider::GetRSSI(const BleDeviceEntry& /*device*/) {
    throw noxb::BluetoothProvider::ConnectionFailedException();
}
