#include "korvellogger.h"

namespace {

// A name that mentions noxb:: is recorded from after its first "::", so that
// "noxb::NoxBleProvider::Connect" reads "NoxBleProvider::Connect".
std::string RecordedFunctionName(const std::string& function) {
    if (function.size() < 6 || function.find("noxb::") == std::string::npos) {
        return function;
    }
    return function.substr(function.find("::") + 2);
}

// Source paths are Windows paths; forward slashes are not separators.
std::string RecordedFileName(const std::string& file) {
    const std::string::size_type lastBackslash = file.rfind('\\');
    return lastBackslash == std::string::npos ? file : file.substr(lastBackslash + 1);
}

}  // namespace

void KorvelLogger::Log(LogLevel level, const std::string& module, const std::string& function,
                       const std::string& file, unsigned int line, const std::string& message) {
    const LogRecord record{level,
                           message,
                           module,
                           RecordedFunctionName(function),
                           std::to_string(line),
                           RecordedFileName(file)};
    Write(record);
}
