// Send, receive and signal strength.
#include <noxb/Exceptions.h>

#include <string>

#include "logging/log.h"
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

std::shared_ptr<BleDevice> NoxBleProvider::FindBleDevice(std::uint32_t handle) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::FindBleDevice",
             "looking for BLE service by handle" + std::to_string(handle));
    auto it = connections.find(handle);
    if (it != connections.end()) return it->second;
    NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::FindBleDevice",
             "didn't found BLE service");
    throw noxb::BluetoothProvider::ProviderServiceNotFoundException();
}
