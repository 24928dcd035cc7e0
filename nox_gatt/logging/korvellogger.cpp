#include "korvellogger.h"

#include <utility>

namespace {

// A name that mentions noxb:: is recorded from after its first "::", so that
// "noxb::NoxBleProvider::Connect" reads "NoxBleProvider::Connect".
void KeepRecordedFunctionName(std::string& function) {
    if (function.size() < 6 || function.find("noxb::") == std::string::npos) {
        return;
    }
    function.erase(0, function.find("::") + 2);
}

// Source paths are Windows paths; forward slashes are not separators.
void KeepRecordedFileName(std::string& file) {
    const std::string::size_type lastBackslash = file.rfind('\\');
    if (lastBackslash != std::string::npos) {
        file.erase(0, lastBackslash + 1);
    }
}

}  // namespace

void KorvelLogger::Log(LogLevel level, const std::string& module, const std::string& function,
                       const std::string& file, unsigned int line, const std::string& message) {
    Log(level, std::string(module), std::string(function), std::string(file), line,
        std::string(message));
}

void KorvelLogger::Log(LogLevel level, std::string&& module, std::string&& function,
                       std::string&& file, unsigned int line, std::string&& message) {
    LogRecord record{level,
                     std::move(message),
                     std::move(module),
                     std::move(function),
                     std::to_string(line),
                     std::move(file)};
    KeepRecordedFunctionName(record.function);
    KeepRecordedFileName(record.file);
    Write(record);
}
