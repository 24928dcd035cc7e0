// The LTTng test's processes, besides noxble:
//   lttng_host watch   registers a provider through the trace shim and prints
//                      each enable request it is told ("enabled 4",
//                      "disabled") until its standard input closes;
//   lttng_host host    loads the module and runs a session with a phone whose
//                      name is not ASCII, through a lost link and its recovery.
#include <etwshim/evntprov.h>
#include <noxb/noxb.h>

#include <cstdio>
#include <stdexcept>

#include "moduleloader.h"
#include "testworld.h"

namespace {

// Called on the shim's thread: stdout is unbuffered, so the test sees each line at once.
void OnEnable(const GUID*, uint32_t code, uint8_t level, uint64_t, uint64_t, const void*, void*) {
    std::puts(code == EVENT_CONTROL_CODE_ENABLE_PROVIDER
                  ? ("enabled " + std::to_string(level)).c_str()
                  : "disabled");
}

int Watch() {
    const GUID id{0x1b2c3d4e, 0x5f60, 0x7182, {0x93, 0xa4, 0xb5, 0xc6, 0xd7, 0xe8, 0xf9, 0x0a}};
    REGHANDLE handle = 0;
    if (EventRegister(&id, OnEnable, nullptr, &handle) != 0) return 1;
    std::puts("registered");
    while (std::getchar() != EOF) continue;
    return EventUnregister(handle) == 0 ? 0 : 1;
}

int Host() {
    LeSimReset();
    // The last address byte and the name.
    const testworld::TestDevice phone = testworld::AddDevice({1, "Café Ünïcode ☕"});
    LoadedModule module;
    if (!module.Loaded()) throw std::runtime_error(module.Error());
    std::unique_ptr<noxb::IBTProvider> provider(
        module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName)());
    provider->Scan(0);
    const std::uint32_t handle = provider->Connect(testworld::EntryOf(phone));
    LeSimDropSession(LeSimSessionOf(phone.id));
    LeSimFlushEvents();
    provider->Send(handle, {'p', 'i', 'n', 'g'});  // the link is gone: recovers, then writes
    provider->Disconnect(handle);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "watch") return Watch();
    if (mode == "host") return Host();
    std::fprintf(stderr, "usage: lttng_host watch|host\n");
    return 2;
}
