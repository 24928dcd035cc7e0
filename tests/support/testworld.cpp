#include "testworld.h"

#include <cstring>

namespace testworld {

LeUuid Uuid16(std::uint16_t value) {
    LeUuid uuid{};
    uuid.type = LEAPI_UUID_TYPE_16;
    uuid.value[0] = static_cast<std::uint8_t>(value & 0xFF);
    uuid.value[1] = static_cast<std::uint8_t>(value >> 8);
    return uuid;
}

LeUuid DataServiceUuid() { return Uuid16(0x2711); }

LeUuid DataCharacteristicUuid() {
    return LeUuid{LEAPI_UUID_TYPE_128,
                  {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E, 0x87, 0x57, 0x72, 0xF6, 0xFA,
                   0xEB, 0x13, 0xD4}};
}

std::wstring TestDevice::Address() const {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (int i = 0; i < 6; ++i) {
        if (i != 0) text.push_back(L':');
        text.push_back(kDigits[record.address[i] >> 4]);
        text.push_back(kDigits[record.address[i] & 0xF]);
    }
    return text;
}

TestDevice AddDevice(const DeviceSpec& spec) {
    TestDevice device;
    const std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, spec.lastAddressByte};
    LeSimMakeDeviceRecord(&device.record, address, spec.name.c_str(), spec.majorClass,
                          spec.minorClass, spec.rssi, spec.connectable ? 1 : 0);
    device.id = LeSimAddDevice(&device.record, spec.discoveryFlags);
    const LeUuid access = Uuid16(0x1800);
    LeSimAddService(device.id, &access);
    const LeUuid deviceName = Uuid16(0x2A00);
    LeSimAddCharacteristic(device.id, &deviceName, LEAPI_PROP_READ, LESIM_VALUE_STORE);
    for (int s = 0; s < spec.dataServices; ++s) {
        const LeUuid service = DataServiceUuid();
        LeSimAddService(device.id, &service);
        if (s != 0 || !spec.dataCharacteristic) continue;
        const LeUuid characteristic = DataCharacteristicUuid();
        device.valueHandle =
            LeSimAddCharacteristic(device.id, &characteristic, spec.properties, spec.behaviour);
        for (const LeUuid& descriptor : spec.descriptors) {
            device.descriptorHandles.push_back(LeSimAddDescriptor(device.id, &descriptor));
        }
    }
    return device;
}

std::vector<LeSimCall> Journal() {
    std::vector<LeSimCall> calls(LeSimJournalCount());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        LeSimJournalGet(static_cast<std::uint32_t>(i), &calls[i]);
    }
    return calls;
}

std::vector<std::string> JournalNames() {
    std::vector<std::string> names;
    for (const LeSimCall& call : Journal()) names.emplace_back(call.function);
    return names;
}

std::vector<LeSimCall> JournalOf(const std::string& function) {
    std::vector<LeSimCall> calls;
    for (const LeSimCall& call : Journal()) {
        if (function == call.function) calls.push_back(call);
    }
    return calls;
}

std::vector<std::string> Trace::Messages() const {
    std::vector<std::string> messages;
    for (const Record& record : Records()) messages.push_back(record.message);
    return messages;
}

std::vector<std::string> Trace::MessagesOf(const std::string& function) const {
    std::vector<std::string> messages;
    for (const Record& record : Records()) {
        if (record.function == function) messages.push_back(record.message);
    }
    return messages;
}

}  // namespace testworld
