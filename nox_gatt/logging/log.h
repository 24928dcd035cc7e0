// The log statement every part of the module uses.
#ifndef NOXB_LOGGING_LOG_H
#define NOXB_LOGGING_LOG_H

#include <string>

#include "formatlogtext.h"
#include "korvelloggerble.h"
#include "loglevel.h"
#include "sourcepath.h"

// Module strings: progress records and failure records.
inline constexpr char kModuleBleString[] = "BLE_STRING";
inline constexpr char kModuleBle[] = "BLE";

// `function` is a literal "Class::Method"; `message` a finished text, which is
// passed through FormatLogText without arguments.
#define NOXB_LOG(level, module, function, message)                                        \
    KorvelLoggerBle::Instance()->Log((level), std::string(module), std::string(function), \
                                     std::string(NOXB_SOURCE_PATH), __LINE__,             \
                                     FormatLogText(message))

#endif  // NOXB_LOGGING_LOG_H
