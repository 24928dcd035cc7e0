// A host built against the installed package. It loads the installed module
// at run time, scans the simulated stack's default world once and lists what
// it found; it succeeds only if the phone "Pixel 8" is there and a provider
// failure reaches it as the family's exception.
//   package_host [module file]
#include <noxb/noxb.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using AnyFunction = void (*)();

#if defined(_WIN32)
void* LoadModule(const std::string& file) {
    // A full path, so that the module's own folder is searched for leapi.dll.
    const std::wstring given(file.begin(), file.end());
    std::vector<wchar_t> full(32768);
    if (GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr) ==
        0) {
        return nullptr;
    }
    return LoadLibraryExW(full.data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
AnyFunction Export(void* module, const char* name) {
    return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void UnloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
#else
void* LoadModule(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }
AnyFunction Export(void* module, const char* name) {
    return reinterpret_cast<AnyFunction>(dlsym(module, name));
}
void UnloadModule(void* module) { dlclose(module); }
#endif

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    return narrow;
}

// Scans, prints the entries and tells whether "Pixel 8" is among them.
bool FindsThePhone(noxb::IBTProvider& provider) {
    bool found = false;
    for (const BleDeviceEntry& entry : provider.Scan(0)) {
        std::printf("  %-24s %s%s\n", Narrow(entry.name).c_str(), Narrow(entry.address).c_str(),
                    entry.connectable ? "  connectable" : "");
        found = found || entry.name == L"Pixel 8";
    }
    return found;
}

// Sending on a handle that was never connected fails with
// ProviderServiceNotFoundException, caught here by its type.
bool FailuresArriveAsExceptions(noxb::IBTProvider& provider) {
    try {
        provider.Send(7, {0x01});
    } catch (const noxb::BluetoothProvider::ProviderServiceNotFoundException& failure) {
        std::printf("Send on an unknown handle: %s (type %d)\n", failure.what(),
                    failure.ErrorType());
        return failure.ErrorType() == 9;
    }
    std::printf("Send on an unknown handle did not fail\n");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : NOXB_MODULE_PATH;
    std::printf("noxblegatt %s, module %s\n", NOXB_PACKAGE_VERSION, file.c_str());
    void* module = LoadModule(file);
    if (module == nullptr) {
        std::printf("cannot load the module\n");
        return 2;
    }
    const auto create = reinterpret_cast<noxb::CreateBleGattInstanceFn>(
        Export(module, noxb::kCreateBleGattInstanceName));
    if (create == nullptr) {
        std::printf("the module does not export %s\n", noxb::kCreateBleGattInstanceName);
        UnloadModule(module);
        return 2;
    }
    bool passed = false;
    {
        // Destroyed through its slot 0 before the module is unloaded.
        const std::unique_ptr<noxb::IBTProvider> provider(create());
        const bool found = FindsThePhone(*provider);
        std::printf("Pixel 8 %s\n", found ? "found" : "not found");
        passed = FailuresArriveAsExceptions(*provider) && found;
    }
    UnloadModule(module);
    return passed ? 0 : 1;
}
