// Loads the module at run time from the test executable's own folder, as a
// host does, and looks up its exports.
#ifndef NOXB_TESTS_SUPPORT_MODULELOADER_H
#define NOXB_TESTS_SUPPORT_MODULELOADER_H

#include <modulelibrary.h>

class LoadedModule : public ModuleLibrary {
  public:
    LoadedModule() : ModuleLibrary(ExecutableFolder() + kModuleFile) {}
};

#endif  // NOXB_TESTS_SUPPORT_MODULELOADER_H
