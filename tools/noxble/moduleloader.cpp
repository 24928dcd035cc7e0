#include "moduleloader.h"

#include <cstring>

#include "output.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

#if defined(_WIN32)

std::string ModuleLibrary::DefaultPath() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return DirectoryOf(ToUtf8(std::wstring(buffer, length))) + "\\noxblegatt.dll";
}

ModuleLibrary::ModuleLibrary(const std::string& path) {
    HMODULE module = LoadLibraryW(FromUtf8(path).c_str());
    if (module == nullptr) {
        throw UsageError(ExitCode::kModuleNotLoaded, "cannot load the module " + path + " (error " +
                                                         std::to_string(GetLastError()) + ")");
    }
    handle = module;
    createWithEvents =
        reinterpret_cast<noxb::CreateBleGattInstanceWithEventsFn>(reinterpret_cast<void (*)()>(
            GetProcAddress(module, noxb::kCreateBleGattInstanceWithEventsName)));
    if (createWithEvents == nullptr) {
        FreeLibrary(module);
        throw UsageError(ExitCode::kModuleNotLoaded, path + " is not the provider module");
    }
}

ModuleLibrary::~ModuleLibrary() { FreeLibrary(static_cast<HMODULE>(handle)); }

#else

std::string ModuleLibrary::DefaultPath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    const std::string self = length > 0 ? std::string(buffer, static_cast<std::size_t>(length))
                                        : std::string("./noxble");
    return DirectoryOf(self) + "/libnoxblegatt.so";
}

ModuleLibrary::ModuleLibrary(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        throw UsageError(ExitCode::kModuleNotLoaded,
                         "cannot load the module: " + std::string(reason ? reason : path));
    }
    void* symbol = dlsym(handle, noxb::kCreateBleGattInstanceWithEventsName);
    if (symbol == nullptr) {
        dlclose(handle);
        throw UsageError(ExitCode::kModuleNotLoaded, path + " is not the provider module");
    }
    createWithEvents = reinterpret_cast<noxb::CreateBleGattInstanceWithEventsFn>(symbol);
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle); }

#endif
