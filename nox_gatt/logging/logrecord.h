#ifndef NOXB_LOGGING_LOGRECORD_H
#define NOXB_LOGGING_LOGRECORD_H

#include <string>

#include "loglevel.h"

// One log statement, normalised; lives on the caller's stack for one write.
struct LogRecord {
    LogLevel level;
    std::string message;
    std::string module;
    std::string function;  // without any leading namespace, see KorvelLogger::Log
    std::string line;      // unsigned decimal text
    std::string file;      // last component of a backslash-separated path
};

#endif  // NOXB_LOGGING_LOGRECORD_H
