#ifndef NOXB_LOGGING_SOURCEPATH_H
#define NOXB_LOGGING_SOURCEPATH_H

#include <cstddef>

// A source path as a Windows build records it: the build makes __FILE__
// relative to the project, and the separators become backslashes here, at
// compile time, so that records name the same file on every platform.
template <std::size_t N>
struct WindowsPath {
    char text[N];
};

template <std::size_t N>
constexpr WindowsPath<N> ToWindowsPath(const char (&path)[N]) {
    WindowsPath<N> result{};
    for (std::size_t i = 0; i < N; ++i) {
        result.text[i] = path[i] == '/' ? '\\' : path[i];
    }
    return result;
}

#define NOXB_SOURCE_PATH                                       \
    ([]() -> const char* {                                     \
        static constexpr auto kPath = ToWindowsPath(__FILE__); \
        return kPath.text;                                     \
    }())

#endif  // NOXB_LOGGING_SOURCEPATH_H
