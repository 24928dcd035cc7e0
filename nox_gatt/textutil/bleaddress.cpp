#include "bleaddress.h"

#include <cstddef>
#include <cstdio>

std::wstring FormatBleAddress(const unsigned char* address) {
    constexpr std::size_t kAddressBytes = 6;
    constexpr std::size_t kTextLength = 3 * kAddressBytes - 1;  // no trailing ':'
    char text[3 * kAddressBytes + 1] = {};
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        std::snprintf(text + 3 * i, sizeof text - 3 * i, "%02x:", address[i]);
    }
    // Pure ASCII: each character widens on its own.
    return std::wstring(text, text + kTextLength);
}
