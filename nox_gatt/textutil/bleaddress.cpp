#include "bleaddress.h"

#include <cstddef>

std::wstring FormatBleAddress(const unsigned char* address) {
    constexpr std::size_t kAddressBytes = 6;
    constexpr std::size_t kTextLength = 3 * kAddressBytes - 1;  // no trailing ':'
    // What "%02x:" prints for each byte, without a printf per byte: scans
    // and device look-ups make this text for every device.
    static constexpr char kDigits[] = "0123456789abcdef";
    std::wstring text(kTextLength, L':');
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        text[3 * i] = static_cast<wchar_t>(kDigits[address[i] >> 4]);
        text[3 * i + 1] = static_cast<wchar_t>(kDigits[address[i] & 0xF]);
    }
    return text;
}
