#ifndef NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H
#define NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H

#include <noxb/Exceptions.h>

#include <string>

// The one check of a stack return code: 0 returns; anything else is logged at
// Error and thrown as NoxBleProviderGeneralException carrying the code. `at`
// names the stack call that returned `code`.
void CheckLeapiReturnCode(int code, const std::string& at);

// The same check for a call named by a literal, as every stack call in the
// module is: the name becomes a std::string only for a failure's record, not
// on every successful call.
inline void CheckLeapiReturnCode(int code, const char* at) {
    if (code != 0) CheckLeapiReturnCode(code, std::string(at));
}

#endif  // NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H
