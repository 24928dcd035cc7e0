#include "moduleloader.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstring>
#include <vector>

// NOXB_MODULE_FILE: the module's file name, given by the build. The module
// is looked for in the test executable's own folder.
#if defined(_WIN32)

LoadedModule::LoadedModule() {
    std::vector<wchar_t> self(32768);
    std::wstring path(self.data(), GetModuleFileNameW(nullptr, self.data(), 32768));
    path.erase(path.find_last_of(L"\\/") + 1);
    const char* file = NOXB_MODULE_FILE;
    handle = LoadLibraryW((path + std::wstring(file, file + std::strlen(file))).c_str());
    if (handle == nullptr) error = "LoadLibraryW failed: " + std::to_string(GetLastError());
}

LoadedModule::~LoadedModule() {
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

LoadedModule::AnyFunction LoadedModule::Symbol(const char* name) const {
    // FARPROC to a plain function pointer: both are code addresses.
    return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

#else

LoadedModule::LoadedModule() {
    std::vector<char> self(4096);
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    std::string folder(self.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    folder.erase(folder.rfind('/') + 1);
    // The trace system outlives every module that uses it, as advapi32 does
    // on Windows: the shim keeps its state for the whole process and must
    // not be unloaded together with the module.
    static void* const traceSystem =
        dlopen((folder + "libetwshim.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    static_cast<void>(traceSystem);
    handle = dlopen((folder + NOXB_MODULE_FILE).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error = dlerror();
}

LoadedModule::~LoadedModule() {
    if (handle != nullptr) dlclose(handle);
}

LoadedModule::AnyFunction LoadedModule::Symbol(const char* name) const {
    return reinterpret_cast<AnyFunction>(dlsym(handle, name));
}

#endif
