// Lifecycle and the slots that carry no behaviour.
#include "noxbleprovider.h"

#include <leapi/leapi.h>

#include "bleexception.h"
#include "logging/log.h"
#include "sessiontable.h"

NoxBleProvider::NoxBleProvider(IBleGattEvents* sink, void* context)
    : eventSink(sink), eventContext(context) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::NoxBleProvider",
             "start constructing NoxBleProvider");
    stackApi = std::make_unique<LeStackApi>(eventSink, eventContext);
    std::uint64_t slot{};  // the stack may write it; nothing reads it
    const std::uint32_t code = LEAPI_Initialize(LeStackApi::OnStackEvent, stackApi.get(), &slot);
    // Already initialised in this process (by an earlier provider) counts as success.
    stackInitialised = code == LEAPI_SUCCESS || code == LEAPI_ALREADY_INITIALIZED;
    if (stackInitialised) {
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::NoxBleProvider",
                 "Initialize succeed or provider already exists");
    } else {
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::NoxBleProvider",
                 "initialize failed");
    }
}

NoxBleProvider::~NoxBleProvider() {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::~NoxBleProvider",
             "start destruct NoxBleProvider");
    if (stackInitialised) {
        const std::uint32_t code = LEAPI_Uninitialize();
        // An uninitialised stack calls nobody back: the devices this provider
        // kept alive for its callbacks may go. "Not initialised" means another
        // provider of the process uninitialised it first. Other providers'
        // devices are theirs to let go of.
        if (code == LEAPI_SUCCESS || code == LEAPI_ERROR_NOT_INITIALIZED) {
            callbackHolders.ReleaseOwnedBy(stackApi.get());
        }
        try {
            CheckLeapiReturnCode(static_cast<int>(code), "LEAPI_Uninitialize");
            NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::~NoxBleProvider",
                     "Uninitialization succeed");
        } catch (const NoxBleProviderGeneralException&) {
            // Already logged by the check; a destructor must not throw.
        }
    } else {
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::~NoxBleProvider",
                 "provider already Uninitialized");
    }
    // Open sessions are left as they are: the stack is gone or going. The
    // members go in the order they are declared in reverse: the connections,
    // the registry, then the stack interface the devices were made by.
}

void NoxBleProvider::Reserved2() {}

bool NoxBleProvider::Reserved7() { return true; }

void NoxBleProvider::Reserved9() {}

void NoxBleProvider::Reserved10(void* /*first*/, void* /*second*/, void* /*third*/) {}

void NoxBleProvider::Reserved11(void* first, void* second, void* third) {
    // Through the object's own slots, as a derived provider would expect.
    Reserved10(first, second, third);
    Reserved9();
}

void NoxBleProvider::Reserved12() {}

void NoxBleProvider::Reserved13() {}

void NoxBleProvider::Reserved14() {}

void NoxBleProvider::Reserved15() {}
