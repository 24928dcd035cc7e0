#include "output.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

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
