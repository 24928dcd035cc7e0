// The default world: a few phones and tablets nearby, chosen so that every
// scan filter of a client has something to keep and something to drop.
#include <cstring>

#include "src/stack.h"

namespace leapisim {

namespace {

// 08 59 0F 7E DB 05 46 7E 87 57 72 F6 FA EB 13 D4, the data characteristic.
LeUuid DataCharacteristicUuid() {
    static const std::uint8_t kValue[16] = {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E,
                                            0x87, 0x57, 0x72, 0xF6, 0xFA, 0xEB, 0x13, 0xD4};
    LeUuid u{};
    u.type = LEAPI_UUID_TYPE_128;
    std::memcpy(u.value, kValue, sizeof kValue);
    return u;
}

void SetStored(Characteristic* c, const char* text) {
    c->stored.assign(text, text + std::strlen(text));
}

// A smartphone's generic access service and the data service with an echo
// characteristic.
void PhoneWithDataService(GattDatabase& g) {
    g.AddService(Uuid16(0x1800));
    SetStored(
        g.CharacteristicAt(g.AddCharacteristic(Uuid16(0x2A00), LEAPI_PROP_READ, LESIM_VALUE_STORE)),
        "Pixel 8");
    g.AddService(Uuid16(0x2711));
    g.AddCharacteristic(
        DataCharacteristicUuid(),
        LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE,
        LESIM_VALUE_ECHO);
    g.DescriptorAt(g.AddDescriptor(Uuid16(0x2901)))->value = {'D', 'a', 't', 'a'};
    g.AddDescriptor(Uuid16(0x2902));
}

void BatteryOnly(GattDatabase& g) {
    g.AddService(Uuid16(0x180F));
    std::uint16_t level =
        g.AddCharacteristic(Uuid16(0x2A19), LEAPI_PROP_READ | LEAPI_PROP_NOTIFY, LESIM_VALUE_STORE);
    g.CharacteristicAt(level)->stored = {88};
    g.AddDescriptor(Uuid16(0x2902));
}

struct DefaultDevice {
    std::uint8_t address[6];
    const char* name;
    std::uint8_t majorClass;
    std::uint8_t minorClass;
    std::int8_t rssi;
    bool connectable;
    void (*gatt)(GattDatabase&);
};

const DefaultDevice kDevices[] = {
    // A smartphone (class 2/12) that offers the data service with an echo
    // characteristic: the device a client connects to and exchanges data with.
    {{0xC4, 0x3A, 0x1F, 0x58, 0x20, 0x01}, "Pixel 8", 2, 12, -58, true, PhoneWithDataService},
    // A tablet (1/28) that accepts sessions but has no data service, only a
    // battery service: connecting finds nothing to talk to.
    {{0xD8, 0x0B, 0x9A, 0x7C, 0x41, 0x02}, "Galaxy Tab S9", 1, 28, -67, true, BatteryOnly},
    // A wearable computer (1/24): dropped by a hand-held/phone class filter.
    {{0xE1, 0x52, 0x33, 0x0D, 0x6E, 0x03}, "Galaxy Watch6", 1, 24, -49, true, nullptr},
    // A device that advertises no name (0/0): skipped for the empty name.
    {{0xF2, 0x19, 0x84, 0xA5, 0x07, 0x04}, "", 0, 0, -71, true, nullptr},
    // A miscellaneous device (0/0) that does not accept sessions: listed,
    // not connectable.
    {{0x5C, 0xE0, 0x6B, 0x21, 0x9F, 0x05}, "Lobby Display", 0, 0, -62, false, nullptr},
    // A tablet (1/28) at -94 dBm: kept without a signal filter, dropped by
    // one at -90 dBm.
    {{0x7A, 0x44, 0xC8, 0x16, 0xB3, 0x06}, "iPad (far)", 1, 28, -94, true, nullptr},
};

}  // namespace

void Stack::LoadDefaultWorldLocked() {
    for (const DefaultDevice& dd : kDevices) {
        if (FindDeviceByAddress(dd.address) != nullptr) continue;
        LeDeviceRecord record;
        MakeDeviceRecord(&record, dd.address, dd.name, dd.majorClass, dd.minorClass, dd.rssi,
                         dd.connectable);
        Device& d =
            *FindDevice(AddDeviceLocked(record, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN));
        if (dd.gatt != nullptr) dd.gatt(d.gatt);
    }
}

void MakeDeviceRecord(LeDeviceRecord* out, const std::uint8_t address[6], const char* name,
                      std::uint8_t majorClass, std::uint8_t minorClass, std::int8_t rssi,
                      bool connectable) {
    std::memset(out, 0, sizeof *out);
    if (address != nullptr) std::memcpy(out->address, address, 6);
    out->advertisingFlags = connectable ? 0 : 0x10;
    out->deviceMode = 1;
    out->majorClass = majorClass;
    out->minorClass = minorClass;
    out->rssi = rssi;
    out->connectable = connectable ? 1 : 0;

    // UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
    const auto* p = reinterpret_cast<const unsigned char*>(name != nullptr ? name : "");
    std::size_t units = 0;
    while (*p != 0) {
        std::uint32_t cp = *p++;
        int more = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (cp >= 0x80 && cp < 0xC0) cp = 0xFFFD;
        if (more > 0) cp &= 0x3Fu >> more;
        for (; more > 0; --more) {
            if ((*p & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (*p++ & 0x3Fu);
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            if (units + 2 > LEAPI_DEVICE_NAME_UNITS) break;
            cp -= 0x10000;
            out->name[units++] = static_cast<std::uint16_t>(0xD800 | (cp >> 10));
            out->name[units++] = static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            if (units + 1 > LEAPI_DEVICE_NAME_UNITS) break;
            out->name[units++] = static_cast<std::uint16_t>(cp);
        }
    }
}

}  // namespace leapisim
