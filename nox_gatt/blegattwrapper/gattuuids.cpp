#include "gattuuids.h"

#include <cstring>

const LeUuid DataServiceUuid = {LEAPI_UUID_TYPE_16, {0x11, 0x27}};
const LeUuid DataCharacteristicUuid = {LEAPI_UUID_TYPE_128,
                                       {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E, 0x87, 0x57,
                                        0x72, 0xF6, 0xFA, 0xEB, 0x13, 0xD4}};

bool operator==(const LeUuid& a, const LeUuid& b) {
    if (a.type != b.type) return false;
    const std::size_t compared = a.type == LEAPI_UUID_TYPE_16 ? 2 : sizeof a.value;
    return std::memcmp(a.value, b.value, compared) == 0;
}
