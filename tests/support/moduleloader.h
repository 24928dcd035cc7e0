// Loads the module at run time from the test executable's own folder, as a
// host does (LoadLibraryW / dlopen), and looks up its exports.
#ifndef NOXB_TESTS_SUPPORT_MODULELOADER_H
#define NOXB_TESTS_SUPPORT_MODULELOADER_H

#include <string>

class LoadedModule {
  public:
    LoadedModule();
    ~LoadedModule();  // unloads
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle != nullptr; }
    const std::string& Error() const { return error; }

    template <typename Function>
    Function Export(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }

  private:
    using AnyFunction = void (*)();
    AnyFunction Symbol(const char* name) const;

    void* handle = nullptr;
    std::string error;
};

#endif  // NOXB_TESTS_SUPPORT_MODULELOADER_H
