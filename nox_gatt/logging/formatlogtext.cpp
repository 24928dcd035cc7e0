#include "formatlogtext.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace formatlogtext_detail {

namespace {

using Buffer = char[kMaxLogTextLength + 1];

// The format itself is first cut to the buffer, as the composed text is.
void CopyToBuffer(const char* text, std::size_t length, Buffer& buffer) {
    const std::size_t kept = std::min(length, kMaxLogTextLength);
    std::memcpy(buffer, text, kept);
    buffer[kept] = '\0';
}

// The kept length of a text: up to its first NUL, at most kMaxLogTextLength.
std::size_t CutLength(const char* text, std::size_t length) {
    const std::size_t kept = std::min(length, kMaxLogTextLength);
    const char* nul = std::char_traits<char>::find(text, kept, '\0');
    return nul == nullptr ? kept : static_cast<std::size_t>(nul - text);
}

}  // namespace

// The text a copy through the buffer would give, without the buffer.
std::string CopyCut(const char* text, std::size_t length) {
    return std::string(text, CutLength(text, length));
}

std::string FormatCut(const char* format, std::size_t length, ...) {
    Buffer cutFormat;
    CopyToBuffer(format, length, cutFormat);
    Buffer composed;
    va_list args;
    va_start(args, length);
    const int written = std::vsnprintf(composed, sizeof composed, cutFormat, args);
    va_end(args);
    if (written < 0) {
        return std::string();
    }
    return std::string(composed);
}

}  // namespace formatlogtext_detail

std::string FormatLogText(std::string&& format) {
    format.resize(formatlogtext_detail::CutLength(format.data(), format.size()));
    return std::move(format);
}
