#include "bleexception.h"

#include "logging/log.h"

void ThrowLeapiFailure(int code, const std::string& at) {
    NOXB_LOG(LogLevel::Error, kModuleBle, "CheckLeapiReturnCode",
             "CheckLeapiReturnCode error: " + std::to_string(code) + " at " + at);
    throw NoxBleProviderGeneralException(code);
}
