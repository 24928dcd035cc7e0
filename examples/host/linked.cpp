// A host that links the module instead of loading it: the factory is an
// ordinary import. It creates a provider and destroys it.
#include <noxb/noxb.h>

#include <cstdio>
#include <memory>

extern "C" noxb::IBTProvider* CreateBleGattInstance();

int main() {
    const std::unique_ptr<noxb::IBTProvider> provider(CreateBleGattInstance());
    const bool alive = provider != nullptr && provider->Reserved7();
    std::printf("linked module: provider %s\n", alive ? "created" : "missing");
    return alive ? 0 : 1;
}
