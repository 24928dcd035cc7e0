#include "bleaddress.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::size_t kAddressBytes = 6;
constexpr std::size_t kTextLength = 3 * kAddressBytes - 1;  // no trailing ':'

// What "%02x:" prints for each byte, into a text of kTextLength ':'s,
// without a printf per byte: scans and device look-ups make this text for
// every device.
template <typename Text>
void WriteDigits(const unsigned char* address, Text& text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < kAddressBytes; ++i) {
        text[3 * i] = static_cast<wchar_t>(kDigits[address[i] >> 4]);
        text[3 * i + 1] = static_cast<wchar_t>(kDigits[address[i] & 0xF]);
    }
}

}  // namespace

std::wstring FormatBleAddress(const unsigned char* address) {
    std::wstring text(kTextLength, L':');
    WriteDigits(address, text);
    return text;
}

bool IsBleAddressText(const unsigned char* address, const std::wstring& text) {
    std::array<wchar_t, kTextLength> own;
    own.fill(L':');
    WriteDigits(address, own);
    return text.compare(0, std::wstring::npos, own.data(), own.size()) == 0;
}
