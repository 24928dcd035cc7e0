#include "utf8.h"

#include <cstdint>
#include <type_traits>

namespace {

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
constexpr std::uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::uint32_t value, std::string& out) {
    if (value > kMaxCodePoint) {
        value = kReplacement;
    }
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

}  // namespace

// Encoded by hand: mingw's std::wstring_convert throws on surrogates.
std::string ToUtf8(const std::wstring& text) {
    using Unit = std::make_unsigned_t<wchar_t>;
    std::string out;
    out.reserve(text.size());
    for (const wchar_t unit : text) {
        AppendUtf8(static_cast<Unit>(unit), out);
    }
    return out;
}
