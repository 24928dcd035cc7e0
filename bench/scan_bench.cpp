// Scan over worlds of 10 to 10,000 phones beside a bare discovery run over
// the same world, and Connect's look-up of a device in the registry.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "benchworld.h"

namespace {

// Scan(0) makes one discovery run, with the flags 2: the phones are seen by
// it, named and connectable, so each one becomes a registry device.
constexpr std::uint8_t kFirstPassFlags = LEAPI_DISCOVERY_KNOWN;

void AddPhones(std::int64_t count) {
    benchworld::ResetWorld();
    for (std::int64_t i = 0; i < count; ++i) {
        benchworld::AddPhone(static_cast<std::uint32_t>(i + 1), kFirstPassFlags, false);
    }
}

void PerRecord(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Scan(benchmark::State& state) {
    AddPhones(state.range(0));
    NoxBleProvider provider(nullptr, nullptr);
    for (auto _ : state) {
        const std::vector<BleDeviceEntry> entries = provider.Scan(0);
        if (entries.size() != static_cast<std::size_t>(state.range(0))) {
            state.SkipWithError("the scan missed phones");
        }
    }
    PerRecord(state);
}
BENCHMARK(BM_Scan)->ArgName("records")->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

// The stack's own part of a Scan: the same discovery run, each record read
// into one record buffer.
void BM_BareDiscovery(benchmark::State& state) {
    AddPhones(state.range(0));
    std::uint64_t slot = 0;
    LEAPI_Initialize(nullptr, nullptr, &slot);
    LeDeviceRecord record;
    for (auto _ : state) {
        std::uint64_t run = 0;
        if (LEAPI_DevicesDiscoveryStart(1, kFirstPassFlags, &run) != LEAPI_SUCCESS) {
            state.SkipWithError("the discovery did not start");
            break;
        }
        std::int64_t seen = 0;
        while (LEAPI_DevicesDiscoveryGetNext(run, &record) == LEAPI_SUCCESS) ++seen;
        LEAPI_DevicesDiscoveryEnd(run);
        if (seen != state.range(0)) state.SkipWithError("the discovery missed phones");
        benchmark::DoNotOptimize(record);
    }
    LEAPI_Uninitialize();
    PerRecord(state);
}
BENCHMARK(BM_BareDiscovery)->ArgName("records")->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

// Connect's look-up: the registry device with the entry's address, for the
// last device of the registry (every other one is looked at first).
void BM_FindDevice(benchmark::State& state) {
    AddPhones(state.range(0));
    NoxBleProvider provider(nullptr, nullptr);
    const std::vector<BleDeviceEntry> entries = provider.Scan(0);
    const BleDeviceEntry& last = entries.back();
    for (auto _ : state) {
        const std::shared_ptr<BleDevice> found = provider.FindBleDevice(last);
        if (!found) state.SkipWithError("the device was not found");
    }
    PerRecord(state);
}
BENCHMARK(BM_FindDevice)->ArgName("registry")->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

// What the look-up leads to on the stack: a session opened with the device
// and closed again.
void BM_BareSessionOpenClose(benchmark::State& state) {
    benchworld::ResetWorld();
    const benchworld::Phone phone =
        benchworld::AddPhone(1, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN, true);
    std::uint64_t slot = 0;
    LEAPI_Initialize(nullptr, nullptr, &slot);
    for (auto _ : state) {
        std::uint64_t session = 0;
        std::uint16_t extra = 0;
        if (LEAPI_GATTSessionEstablishEx(&phone.record, nullptr, nullptr,
                                         LEAPI_SESSION_OPTION_DEFAULT, &session,
                                         &extra) != LEAPI_SUCCESS) {
            state.SkipWithError("the session did not open");
            break;
        }
        LEAPI_GATTSessionClose(session);
    }
    LEAPI_Uninitialize();
    benchworld::ResetWorld();
}
BENCHMARK(BM_BareSessionOpenClose);

}  // namespace
