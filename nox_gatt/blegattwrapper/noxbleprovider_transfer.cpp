// Send, receive and signal strength.
#include <leapi/leapi.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <string>

#include "bleexception.h"
#include "logging/log.h"
#include "noxbleprovider.h"
#include "textutil/utf8.h"

void NoxBleProvider::Send(const std::uint32_t& handle, const std::vector<std::uint8_t>& data) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Send",
             "sending data by handle " + std::to_string(handle));
    const OperationGuard guard = TakeOperationLock(1);
    if (!guard.owns_lock()) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Send",
                 "Disconnecting did not get the lock");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    const std::shared_ptr<BleDevice> dev = FindBleDevice(handle);
    try {
        dev->FindService()->FindCharacteristic()->WriteLong(data);
        return;
    } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
        // Recover the session below, then write once more.
    }
    if (!dev->RecoveryConnection()) throw noxb::BluetoothProvider::ConnectionFailedException();
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Send",
             "RecoveryConnection done, resend the data ");
    // A recovery may have replaced the service and characteristic.
    dev->FindService()->FindCharacteristic()->WriteLong(data);
}

void NoxBleProvider::Receive(const std::uint32_t& handle, std::int64_t timeoutMs,
                             std::vector<std::uint8_t>& data) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Receive",
             "receiving data by handle " + std::to_string(handle));
    const OperationGuard guard = TakeOperationLock(1);
    if (!guard.owns_lock()) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Receive",
                 "Disconnecting did not get the lock");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    const std::shared_ptr<BleDevice> dev = FindBleDevice(handle);
    try {
        dev->FindService()->FindCharacteristic()->ReadLong(data, timeoutMs);
        return;
    } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
        // Recover the session below, then read once more.
    }
    if (!dev->RecoveryConnection()) throw noxb::BluetoothProvider::ConnectionFailedException();
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Receive",
             "RecoveryConnection done, read the data ");
    dev->FindService()->FindCharacteristic()->ReadLong(data, timeoutMs);
}

std::int16_t NoxBleProvider::GetRSSI(const BleDeviceEntry& device) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::GetRSSI",
             ToUtf8(L"retrieving RSSI from device " + device.name));
    const OperationGuard guard = TakeOperationLock(3);
    if (!guard.owns_lock()) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::GetRSSI",
                 "Connect did not get the lock");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    const std::shared_ptr<BleDevice> dev = FindBleDevice(device);
    const std::uint64_t session = dev ? dev->SessionHandle() : kNoSession;
    if (session == kNoSession) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::GetRSSI",
                 "connection to device failed, couldn't find device");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    std::int16_t rssi = -127;
    CheckLeapiReturnCode(static_cast<int>(LEAPI_GATTSessionRSSIGet(session, &rssi)),
                         "LEAPI_GATTSessionRSSIGet");
    return rssi;
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
