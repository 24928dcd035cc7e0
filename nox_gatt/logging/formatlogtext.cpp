#include "formatlogtext.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace formatlogtext_detail {

namespace {

using Buffer = char[kMaxLogTextLength + 1];

// The format itself is first cut to the buffer, as the composed text is.
void CopyToBuffer(const char* text, std::size_t length, Buffer& buffer) {
    const std::size_t kept = std::min(length, kMaxLogTextLength);
    std::memcpy(buffer, text, kept);
    buffer[kept] = '\0';
}

}  // namespace

std::string CopyCut(const char* text, std::size_t length) {
    Buffer buffer;
    CopyToBuffer(text, length, buffer);
    return std::string(buffer);
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
