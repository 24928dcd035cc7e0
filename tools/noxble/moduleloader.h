// Loading the provider module by path, as any host does.
#ifndef NOXBLE_MODULELOADER_H
#define NOXBLE_MODULELOADER_H

#include <noxb/Factories.h>

#include <string>

class ModuleLibrary {
  public:
    // Throws UsageError (kModuleNotLoaded) when the file cannot be loaded or
    // lacks the factories.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    noxb::CreateBleGattInstanceWithEventsFn createWithEvents = nullptr;

    // The module beside this executable.
    static std::string DefaultPath();

  private:
    void* handle = nullptr;
};

#endif  // NOXBLE_MODULELOADER_H
