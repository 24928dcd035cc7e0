// Scan and the device registry.
#include <noxb/BleModel.h>

#include <cstring>
#include <string>

#include "logging/log.h"
#include "noxbleprovider.h"
#include "textutil/bleaddress.h"
#include "textutil/utf8.h"

namespace {

constexpr std::uint8_t kFirstPassFlags = 0x02;
constexpr std::uint8_t kFirstPassSeconds = 1;
constexpr std::uint8_t kSecondPassFlags = 0x01;

bool IsConnectable(const LeDeviceRecord& record) {
    return (record.advertisingFlags & ~std::uint32_t{2}) == 0 && record.deviceMode == 1 &&
           record.connectable != 0;
}

// The record's name: up to the first NUL, at most the 249 units it holds.
// Measured first, so that the text is allocated once, not grown unit by unit.
std::wstring NameOf(const LeDeviceRecord& record) {
    std::size_t length = 0;
    while (length < LEAPI_DEVICE_NAME_UNITS && record.name[length] != 0) ++length;
    std::wstring name(length, L'\0');
    for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<wchar_t>(record.name[i]);
    return name;
}

}  // namespace

std::vector<BleDeviceEntry> NoxBleProvider::Scan(std::int64_t durationMs) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Scan",
             "scan for ble devices using StackApi()->DevicesDiscovery . miliseconds count:" +
                 std::to_string(durationMs));
    std::vector<BleDeviceEntry> result;
    const std::int64_t seconds = durationMs / 1000;
    devices.Lock()->clear();
    AddDiscoveredDevices(StackApi()->DevicesDiscovery(kFirstPassFlags, kFirstPassSeconds), true,
                         result);
    // The stack takes whole seconds in one byte.
    const auto secondPassSeconds = static_cast<std::uint8_t>(seconds & 0xFF);
    if (secondPassSeconds != 0) {
        AddDiscoveredDevices(StackApi()->DevicesDiscovery(kSecondPassFlags, secondPassSeconds),
                             false, result);
    }
    return result;
}

void NoxBleProvider::AddDiscoveredDevices(const std::vector<std::shared_ptr<BleDevice>>& found,
                                          bool firstPass, std::vector<BleDeviceEntry>& result) {
    for (const auto& device : found) {
        const bool connectable = IsConnectable(device->deviceInfo);
        std::wstring name = NameOf(device->deviceInfo);
        if (name.empty()) continue;
        std::wstring address = FormatBleAddress(device->deviceInfo.address);
        if (firstPass && connectable) devices.Lock()->push_back(device);
        result.push_back(
            BleDeviceEntry{std::move(name), std::move(address), firstPass, connectable});
    }
}

std::shared_ptr<BleDevice> NoxBleProvider::FindBleDevice(const BleDeviceEntry& device) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::FindBleDevice",
             ToUtf8(L"find BLE decvice " + device.name + L" in devices list by address"));
    const auto registry = devices.Lock();  // held through the loop
    for (const auto& candidate : *registry) {
        if (IsBleAddressText(candidate->deviceInfo.address, device.address)) return candidate;
    }
    return nullptr;
}
