#include "modulelibrary.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <vector>

namespace {

std::string FolderPart(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const wchar_t* text, DWORD length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), bytes, nullptr,
                        nullptr);
    return narrow;
}

std::string FileOf(HMODULE module) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    return Narrow(buffer.data(), length);
}

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) {
    // A full path with the altered search order: the module's own folder is
    // searched for the LE stack first.
    std::vector<wchar_t> full(32768);
    const std::wstring given = Wide(path);
    if (GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr) !=
        0) {
        handle = LoadLibraryExW(full.data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (handle == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    }
}

ModuleLibrary::~ModuleLibrary() {
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

ModuleLibrary::AnyFunction ModuleLibrary::Symbol(const char* name) const {
    if (handle == nullptr) return nullptr;
    // FARPROC to a plain function pointer: both are code addresses.
    return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

std::string ModuleLibrary::ExecutableFolder() { return FolderPart(FileOf(nullptr)); }

std::string ModuleLibrary::FolderOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &module);
    return FolderPart(FileOf(module));
}

#else

ModuleLibrary::ModuleLibrary(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
    }
}

ModuleLibrary::~ModuleLibrary() {
    if (handle != nullptr) dlclose(handle);
}

ModuleLibrary::AnyFunction ModuleLibrary::Symbol(const char* name) const {
    if (handle == nullptr) return nullptr;
    return reinterpret_cast<AnyFunction>(dlsym(handle, name));
}

std::string ModuleLibrary::ExecutableFolder() {
    std::vector<char> self(4096);
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    return FolderPart(std::string(self.data(), length > 0 ? static_cast<std::size_t>(length) : 0));
}

std::string ModuleLibrary::FolderOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return ExecutableFolder();
    const std::string file = info.dli_fname;
    // The executable's own entry may carry no path at all.
    return file.find('/') == std::string::npos ? ExecutableFolder() : FolderPart(file);
}

#endif
