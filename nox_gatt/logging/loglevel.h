#ifndef NOXB_LOGGING_LOGLEVEL_H
#define NOXB_LOGGING_LOGLEVEL_H

#include <cstdint>

// One byte; values other than these are accepted by the logger but never
// written.
enum class LogLevel : std::uint8_t { Info = 0, Warning = 1, Error = 2, Critical = 3 };

#endif  // NOXB_LOGGING_LOGLEVEL_H
