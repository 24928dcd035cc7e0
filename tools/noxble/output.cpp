#include "output.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<std::uint32_t>(text[i]);
        // UTF-16 pairs (16-bit wchar_t) make one code point; lone halves stay as they are.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            const auto low = static_cast<std::uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        std::uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

std::int64_t ParseNumber(const std::string& text, const std::string& what) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size()) {
        throw UsageError(ExitCode::kBadNumber,
                         what + " must be a whole number, not \"" + text + "\"");
    }
    return value;
}

std::vector<std::uint8_t> ParseHex(const std::string& text) {
    std::string digits;
    for (char c : text.substr(4)) {
        if (c == ' ' || c == ':' || c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            throw UsageError(ExitCode::kBadHex, "bad hex byte text \"" + text + "\"");
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        throw UsageError(ExitCode::kBadHex, "odd number of hex digits in \"" + text + "\"");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string Describe(const std::vector<std::uint8_t>& bytes) {
    bool printable = !bytes.empty();
    for (std::uint8_t b : bytes) printable = printable && b >= 0x20 && b < 0x7F;
    std::ostringstream text;
    text << bytes.size() << (bytes.size() == 1 ? " byte" : " bytes");
    if (bytes.empty()) return text.str();
    if (printable) {
        text << " \"" << std::string(bytes.begin(), bytes.end()) << "\"";
        return text.str();
    }
    text << " hex:";
    const std::size_t shown = bytes.size() < 32 ? bytes.size() : 32;
    for (std::size_t i = 0; i < shown; ++i) {
        text << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(bytes[i]);
    }
    if (shown < bytes.size()) text << "...";
    return text.str();
}

void PrintEntriesTable(const std::vector<BleDeviceEntry>& entries) {
    std::printf("  #  %-24s %-17s  %-6s  %s\n", "name", "address", "pass", "connectable");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BleDeviceEntry& e = entries[i];
        std::printf("%3zu  %-24s %-17s  %-6s  %s\n", i, ToUtf8(e.name).c_str(),
                    ToUtf8(e.address).c_str(), e.firstPass ? "first" : "second",
                    e.connectable ? "yes" : "no");
    }
}

namespace {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void PrintEntriesJson(const std::vector<BleDeviceEntry>& entries) {
    std::printf("[");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BleDeviceEntry& e = entries[i];
        std::printf("%s\n  {\"name\": %s, \"address\": %s, \"firstPass\": %s, \"connectable\": %s}",
                    i == 0 ? "" : ",", JsonString(ToUtf8(e.name)).c_str(),
                    JsonString(ToUtf8(e.address)).c_str(), e.firstPass ? "true" : "false",
                    e.connectable ? "true" : "false");
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
}
