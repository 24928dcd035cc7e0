#ifndef NOXB_LOGGING_KORVELLOGGER_H
#define NOXB_LOGGING_KORVELLOGGER_H

#include <string>

#include "loglevel.h"
#include "logrecord.h"

class KorvelLogger {
  public:
    virtual ~KorvelLogger() = default;
    KorvelLogger(const KorvelLogger&) = delete;
    KorvelLogger& operator=(const KorvelLogger&) = delete;

    // Builds the record (always, whether or not anybody listens) and writes it.
    void Log(LogLevel level, const std::string& module, const std::string& function,
             const std::string& file, unsigned int line, const std::string& message);
    // The same for pieces made for this one statement, as NOXB_LOG makes
    // them: the record takes them over instead of copying them.
    void Log(LogLevel level, std::string&& module, std::string&& function, std::string&& file,
             unsigned int line, std::string&& message);

    virtual void Write(const LogRecord& record) = 0;

  protected:
    KorvelLogger() = default;
};

#endif  // NOXB_LOGGING_KORVELLOGGER_H
