// Send and Receive of 512 bytes through the provider, beside the bare stack
// calls they wrap, and the floor of a Send: one bare write and the two log
// records every Send builds.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "benchworld.h"
#include "logging/log.h"

namespace {

using benchworld::Connection;
using benchworld::TraceSession;

// Argument 0: no trace session; 1: a session listening at Info; 2: an LTTng
// session around the process (bench/run.sh), no session in it.
std::unique_ptr<TraceSession> TraceFor(benchmark::State& state) {
    if (state.range(0) == 2) {
        benchworld::RequireTracerSession(state);
        return nullptr;
    }
    if (state.range(0) == 0) return nullptr;
    return std::make_unique<TraceSession>();
}

CharacteristicValue ValueRecord(std::uint16_t valueHandle) {
    CharacteristicValue value{};
    value.handle = valueHandle;
    value.length = static_cast<std::uint16_t>(benchworld::kValueBytes);
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    std::memcpy(value.data, bytes.data(), bytes.size());
    return value;
}

void BM_Send(benchmark::State& state) {
    Connection link;
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    const auto trace = TraceFor(state);
    for (auto _ : state) {
        link.provider->Send(link.handle, bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Send)->ArgName("trace")->Arg(0)->Arg(1)->Arg(2);

void BM_BareWriteLong(benchmark::State& state) {
    Connection link;
    const CharacteristicValue value = ValueRecord(link.phone.valueHandle);
    const auto trace = TraceFor(state);
    for (auto _ : state) {
        const std::uint32_t code = LEAPI_CharacteristicWriteLong(link.session, &value);
        if (code != LEAPI_SUCCESS) state.SkipWithError("the write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.length));
}
BENCHMARK(BM_BareWriteLong)->ArgName("trace")->Arg(0)->Arg(1);

// What no Send can go below: the stack's write and the two records of its
// first steps ("sending data by handle N" and "looking for BLE service by
// handleN"), built like the module builds them.
void BM_SendFloor(benchmark::State& state) {
    Connection link;
    const CharacteristicValue value = ValueRecord(link.phone.valueHandle);
    const std::uint32_t handle = link.handle;
    const auto trace = TraceFor(state);
    for (auto _ : state) {
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Send",
                 "sending data by handle " + std::to_string(handle));
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::FindBleDevice",
                 "looking for BLE service by handle" + std::to_string(handle));
        const std::uint32_t code = LEAPI_CharacteristicWriteLong(link.session, &value);
        if (code != LEAPI_SUCCESS) state.SkipWithError("the write failed");
    }
}
BENCHMARK(BM_SendFloor)->ArgName("trace")->Arg(0)->Arg(1);

// The data characteristic keeps the last value written: every read finds
// 512 bytes at once.
void BM_Receive(benchmark::State& state) {
    Connection link;
    link.provider->Send(link.handle, benchworld::ValueBytes());
    const auto trace = TraceFor(state);
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        link.provider->Receive(link.handle, 1000, out);
        if (out.size() != benchworld::kValueBytes) state.SkipWithError("the read came back short");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_Receive)->ArgName("trace")->Arg(0)->Arg(1);

void BM_BareReadLong(benchmark::State& state) {
    Connection link;
    link.provider->Send(link.handle, benchworld::ValueBytes());
    const auto trace = TraceFor(state);
    CharacteristicValue value{};
    for (auto _ : state) {
        const std::uint32_t code =
            LEAPI_CharacteristicReadLong(link.session, link.phone.valueHandle, &value);
        if (code != LEAPI_SUCCESS || value.length != benchworld::kValueBytes) {
            state.SkipWithError("the read failed");
        }
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.length));
}
BENCHMARK(BM_BareReadLong)->ArgName("trace")->Arg(0)->Arg(1);

}  // namespace
