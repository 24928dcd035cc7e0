// The one service and characteristic the provider talks to on every device.
#ifndef NOXB_BLEGATTWRAPPER_GATTUUIDS_H
#define NOXB_BLEGATTWRAPPER_GATTUUIDS_H

#include <leapi/leapi.h>

#include <cstdint>

// The 16-bit UUID 0x2711.
extern const LeUuid DataServiceUuid;
// 08 59 0F 7E DB 05 46 7E 87 57 72 F6 FA EB 13 D4, in record order.
extern const LeUuid DataCharacteristicUuid;
// The client characteristic configuration descriptor.
inline constexpr std::uint16_t kClientConfigurationUuid = 0x2902;

// Type bytes equal and, for 16-bit UUIDs, the first two value bytes equal;
// otherwise all sixteen.
bool operator==(const LeUuid& a, const LeUuid& b);

// The first two value bytes read as a 16-bit number, low byte first.
inline std::uint16_t ShortUuidOf(const LeUuid& uuid) {
    return static_cast<std::uint16_t>(uuid.value[0] | (uuid.value[1] << 8));
}

#endif  // NOXB_BLEGATTWRAPPER_GATTUUIDS_H
