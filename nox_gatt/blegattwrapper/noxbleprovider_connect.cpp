// Connect and disconnect.
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <cstdint>
#include <string>

#include "logging/log.h"
#include "noxbleprovider.h"
#include "systemclock.h"
#include "textutil/utf8.h"

NoxBleProvider::OperationGuard NoxBleProvider::TakeOperationLock(int waits) {
    if (!TryLockFor(operationLock, waits * kLockTimeout))
        return OperationGuard(operationLock, std::defer_lock);
    return OperationGuard(operationLock, std::adopt_lock);
}

std::uint32_t NoxBleProvider::Connect(const BleDeviceEntry& device) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Connect",
             ToUtf8(L"connecting to device " + device.name + L"via BLE service. Address: " +
                    device.address));
    const OperationGuard guard = TakeOperationLock(1);
    if (!guard.owns_lock()) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Connect",
                 "Connect did not get the lock");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    std::shared_ptr<BleDevice> dev = FindBleDevice(device);
    if (!dev) {
        // One discovery pass rebuilds the registry; its list is not needed.
        Scan(0);
        dev = FindBleDevice(device);
        if (!dev) {
            NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Connect",
                     "connection to device failed, couldn't find device");
            throw noxb::BluetoothProvider::ConnectionFailedException();
        }
    }
    dev->GATTSessionEstablish();
    try {
        dev->RefreshServices();
    } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
        try {
            dev->RefreshServices();
        } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
            dev->GATTSessionClose();
            throw noxb::BluetoothProvider::ConnectionFailedException();
        }
    }
    // The device object names the connection: the same object always gives
    // the same handle.
    const auto handle = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dev.get()));
    connections[handle] = dev;
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Connect",
             ToUtf8(L"connection to device " + device.name + L"via BLE service succeed"));
    return handle;
}

void NoxBleProvider::Disconnect(const std::uint32_t& handle) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Disconnect",
             "disconnecting service " + std::to_string(handle));
    const OperationGuard guard = TakeOperationLock(3);
    if (!guard.owns_lock()) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Disconnect",
                 "Disconnecting did not get the lock");
        throw noxb::BluetoothProvider::ConnectionFailedException();
    }
    auto it = connections.find(handle);
    if (it == connections.end()) {
        // Nothing is connected under this handle (never, or not any more):
        // there is nothing to close, and disconnecting twice is harmless.
        NOXB_LOG(LogLevel::Error, kModuleBle, "NoxBleProvider::Disconnect",
                 "didn't found BLE service");
        return;
    }
    const std::shared_ptr<BleDevice> dev = it->second;
    dev->GATTSessionClose();
    connections.erase(handle);
}
