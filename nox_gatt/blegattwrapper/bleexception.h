#ifndef NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H
#define NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H

#include <noxb/Exceptions.h>

#include <string>

// A failed stack call: logged at Error as CheckLeapiReturnCode's record and
// thrown as NoxBleProviderGeneralException carrying the code. `at` names the
// stack call that returned `code`.
[[noreturn]] void ThrowLeapiFailure(int code, const std::string& at);

// The one check of a stack return code: 0 returns; anything else fails as
// above. Every stack call in the module is named by a literal, which becomes
// a std::string only for a failure's record.
inline void CheckLeapiReturnCode(int code, const char* at) {
    if (code != 0) ThrowLeapiFailure(code, at);
}

#endif  // NOXB_BLEGATTWRAPPER_BLEEXCEPTION_H
