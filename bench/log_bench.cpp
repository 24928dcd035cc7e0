// One log statement as the module writes it: the record is built whether or
// not a session listens; with a session at Info (in the process, or an LTTng
// one around it) it is also written.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "benchworld.h"
#include "logging/log.h"

namespace {

void BM_LogStatement(benchmark::State& state) {
    std::optional<benchworld::TraceSession> trace;
    if (state.range(0) == 1) trace.emplace();
    if (state.range(0) == 2) benchworld::RequireTracerSession(state);
    std::uint32_t handle = 1234567;
    for (auto _ : state) {
        benchmark::DoNotOptimize(handle);
        NOXB_LOG(LogLevel::Info, kModuleBleString, "NoxBleProvider::Send",
                 "sending data by handle " + std::to_string(handle));
    }
    if (trace && trace->Events() < static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("the session missed records");
    }
}
BENCHMARK(BM_LogStatement)->ArgName("trace")->Arg(0)->Arg(1)->Arg(2);

}  // namespace
