#include "bleexception.h"

#include "logging/log.h"

void CheckLeapiReturnCode(int code, const std::string& at) {
    if (code == 0) {
        return;
    }
    NOXB_LOG(LogLevel::Error, kModuleBle, "CheckLeapiReturnCode",
             "CheckLeapiReturnCode error: " + std::to_string(code) + " at " + at);
    throw NoxBleProviderGeneralException(code);
}
