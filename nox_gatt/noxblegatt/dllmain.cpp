// The module entry and its two exports.
#include <noxb/IBTProvider.h>
#include <noxb/IBleGattEvents.h>

#include "blegattwrapper/noxbleprovider.h"
#include "logging/log.h"
#include "moduleexport.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Nothing to set up or tear down per process or thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
#endif

// Neither export catches anything: allocation and construction failures reach
// the host.
extern "C" NOXB_MODULE_EXPORT noxb::IBTProvider* CreateBleGattInstance() {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "CreateBleGattInstance", "BLE init");
    return new NoxBleProvider(nullptr, nullptr);
}

extern "C" NOXB_MODULE_EXPORT noxb::IBTProvider* CreateBleGattInstanceWithEvents(
    void* eventContext, IBleGattEvents* eventSink) {
    return new NoxBleProvider(eventSink, eventContext);
}
