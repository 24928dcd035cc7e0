// Loading the provider module at run time, as any host does (LoadLibraryExW /
// dlopen), and looking up its exports. noxble, the C interface and the tests
// that host the module all load it through this.
#ifndef NOXB_HOSTLOADER_MODULELIBRARY_H
#define NOXB_HOSTLOADER_MODULELIBRARY_H

#include <string>

class ModuleLibrary {
  public:
    // The module's file name.
#if defined(_WIN32)
    static constexpr const char* kModuleFile = "noxblegatt.dll";
#else
    static constexpr const char* kModuleFile = "libnoxblegatt.so";
#endif

    // Loads the library at `path` (UTF-8). A failure throws nothing: Loaded()
    // is then false and Error() says why.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();  // unloads
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool Loaded() const { return handle != nullptr; }
    const std::string& Error() const { return error; }

    // The export `name`, null when there is none (or nothing is loaded).
    template <typename Function>
    Function Export(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }

    // The folder of the running executable, and the folder of the library
    // (or executable) whose code holds `address`; both end in a separator.
    static std::string ExecutableFolder();
    static std::string FolderOf(const void* address);

  private:
    using AnyFunction = void (*)();
    AnyFunction Symbol(const char* name) const;

    void* handle = nullptr;
    std::string error;
};

#endif  // NOXB_HOSTLOADER_MODULELIBRARY_H
