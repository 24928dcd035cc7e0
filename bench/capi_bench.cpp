// A 512-byte Send through the C interface beside the same Send through the
// C++ interface of the same loaded module: the difference is what the C
// layer costs. Both load libnoxblegatt.so at run time, as hosts do.
#include <benchmark/benchmark.h>
#include <noxb/noxb.h>
#include <noxb/noxb_c.h>

#include <cstring>
#include <memory>

#include "benchworld.h"
#include "modulelibrary.h"

namespace {

// One phone with the data service, alone in the world.
void OnePhone() {
    benchworld::ResetWorld();
    benchworld::AddPhone(1, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN, true);
}

void BM_ModuleSend(benchmark::State& state) {
    OnePhone();
    const ModuleLibrary module(ModuleLibrary::ExecutableFolder() + ModuleLibrary::kModuleFile);
    const auto create =
        module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
    if (create == nullptr) {
        state.SkipWithError("the module did not load");
        return;
    }
    const std::unique_ptr<noxb::IBTProvider> provider(create());
    const std::vector<BleDeviceEntry> entries = provider->Scan(0);
    const std::uint32_t handle = provider->Connect(entries.at(0));
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    for (auto _ : state) {
        provider->Send(handle, bytes);
    }
    provider->Disconnect(handle);
}
BENCHMARK(BM_ModuleSend);

void BM_CApiSend(benchmark::State& state) {
    OnePhone();
    noxb_provider* provider = nullptr;
    noxb_device_list* list = nullptr;
    std::uint32_t handle = 0;
    if (noxb_provider_open(nullptr, nullptr, &provider) != NOXB_OK ||
        noxb_scan(provider, 0, &list) != NOXB_OK ||
        noxb_connect(provider, list, 0, &handle) != NOXB_OK) {
        state.SkipWithError(noxb_last_error());
        noxb_provider_close(provider);
        return;
    }
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    for (auto _ : state) {
        if (noxb_send(provider, handle, bytes.data(), bytes.size()) != NOXB_OK) {
            state.SkipWithError(noxb_last_error());
        }
    }
    noxb_disconnect(provider, handle);
    noxb_device_list_free(list);
    noxb_provider_close(provider);
}
BENCHMARK(BM_CApiSend);

}  // namespace
