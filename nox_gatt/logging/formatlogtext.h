#ifndef NOXB_LOGGING_FORMATLOGTEXT_H
#define NOXB_LOGGING_FORMATLOGTEXT_H

#include <cstddef>
#include <string>
#include <type_traits>

// Messages are cut to this many characters.
inline constexpr std::size_t kMaxLogTextLength = 1023;

namespace formatlogtext_detail {
std::string CopyCut(const char* text, std::size_t length);
std::string FormatCut(const char* format, std::size_t length, ...);
}  // namespace formatlogtext_detail

// printf-style composition of a log message, at most kMaxLogTextLength
// characters (up to the first NUL). Without arguments the text is copied
// unchanged: module statements pass finished texts that may hold host text,
// and a '%' in it must not read arguments that were never passed.
template <typename... Args>
std::string FormatLogText(const char* format, Args... args) {
    static_assert((... && (std::is_arithmetic_v<Args> || std::is_pointer_v<Args>)),
                  "FormatLogText takes printf arguments: numbers and C strings");
    const std::size_t length = std::char_traits<char>::length(format);
    if constexpr (sizeof...(Args) == 0) {
        return formatlogtext_detail::CopyCut(format, length);
    } else {
        return formatlogtext_detail::FormatCut(format, length, args...);
    }
}

// A finished text made for this one message is kept, cut like a copy
// would be (at its first NUL, after kMaxLogTextLength characters).
std::string FormatLogText(std::string&& format);

template <typename... Args>
std::string FormatLogText(const std::string& format, Args... args) {
    static_assert((... && (std::is_arithmetic_v<Args> || std::is_pointer_v<Args>)),
                  "FormatLogText takes printf arguments: numbers and C strings");
    if constexpr (sizeof...(Args) == 0) {
        return formatlogtext_detail::CopyCut(format.data(), format.size());
    } else {
        return formatlogtext_detail::FormatCut(format.data(), format.size(), args...);
    }
}

#endif  // NOXB_LOGGING_FORMATLOGTEXT_H
