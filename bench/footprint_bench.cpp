// What the module keeps and uses while a host does nothing: its threads, its
// processor time while idle, and the memory of a registry device. Each figure
// is one measurement (one iteration), reported as counters.
//
// This binary counts every operator new and delete of the process (module,
// simulated stack and benchmark alike), so it measures no times.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "allocationcount.h"
#include "benchworld.h"

namespace {

using benchworld::Connection;

pid_t ThisThread() { return static_cast<pid_t>(syscall(SYS_gettid)); }

std::set<pid_t> Threads() {
    std::set<pid_t> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return threads;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] != '.') threads.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
    }
    closedir(tasks);
    return threads;
}

constexpr const char* kTracerWatcher = "etwshim-watch";

std::string NameOf(pid_t thread) {
    std::ifstream comm("/proc/self/task/" + std::to_string(thread) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// A host that notes on which threads the module calls it: those are the
// stack's callback threads.
class ThreadNotingHost final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void* /*context*/, BleDevice* /*device*/) override { Note(); }
    void OnCharacteristicData(void* /*context*/, BleCharacteristicInfo* info) override {
        info->characteristic->TakeNotifications();
        Note();
    }
    void OnSessionEstablished(void* /*context*/, std::uint64_t /*session*/) override { Note(); }

    std::set<pid_t> Seen() {
        std::lock_guard<std::mutex> hold(lock);
        return seen;
    }

  private:
    void Note() {
        std::lock_guard<std::mutex> hold(lock);
        seen.insert(ThisThread());
    }
    std::mutex lock;
    std::set<pid_t> seen;
};

// Threads of the process before a provider exists and while one is connected
// and has sent, received and been told of values; every thread but the
// caller's and the stack's callback threads would be the module's.
void BM_Threads(benchmark::State& state) {
    for (auto _ : state) {
        benchworld::ResetWorld();
        const std::set<pid_t> before = Threads();
        ThreadNotingHost host;
        std::set<pid_t> during;
        {
            Connection link(&host, nullptr);
            const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
            link.provider->Send(link.handle, bytes);
            std::vector<std::uint8_t> out;
            link.provider->Receive(link.handle, 1000, out);
            link.provider->GetRSSI(
                BleDeviceEntry{L"Phone 1", benchworld::AddressText(link.phone.record), true, true});
            LeSimRaiseValueEvent(link.session, link.phone.valueHandle, 1, 0, bytes.data(),
                                 static_cast<std::uint16_t>(bytes.size()));
            LeSimFlushEvents();
            during = Threads();
        }
        const std::set<pid_t> stack = host.Seen();
        std::size_t own = 0;
        std::size_t tracer = 0;
        for (pid_t thread : during) {
            if (thread == ThisThread() || before.count(thread) != 0 || stack.count(thread) != 0) {
                continue;
            }
            // The trace shim's watcher of the tracer's sessions stands where
            // the system's tracing service stands on Windows.
            if (NameOf(thread) == kTracerWatcher) {
                ++tracer;
            } else {
                ++own;
            }
        }
        state.counters["threads_before"] = static_cast<double>(before.size());
        state.counters["threads_connected"] = static_cast<double>(during.size());
        state.counters["stack_threads"] = static_cast<double>(stack.size());
        state.counters["module_threads"] = static_cast<double>(own);
        state.counters["tracer_threads"] = static_cast<double>(tracer);
    }
}
BENCHMARK(BM_Threads)->Iterations(1);

double ProcessCpuMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// Per thread: nanoseconds on a processor and context switches, from /proc.
struct ThreadUse {
    double cpuNs = 0;
    double switches = 0;
};

ThreadUse UseOf(pid_t thread) {
    ThreadUse use;
    const std::string dir = "/proc/self/task/" + std::to_string(thread);
    std::ifstream schedstat(dir + "/schedstat");
    schedstat >> use.cpuNs;
    std::ifstream status(dir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.find("ctxt_switches:") != std::string::npos) {
            use.switches += std::stod(line.substr(line.find(':') + 1));
        }
    }
    return use;
}

// What the threads other than the caller's did across one idle second: the
// stack's callback thread and any thread of the module's.
struct IdleFigures {
    double processCpuUs = 0;
    double otherThreadsCpuNs = 0;
    double otherThreadsSwitches = 0;
};

IdleFigures IdleSecond() {
    std::map<pid_t, ThreadUse> before;
    for (pid_t thread : Threads()) before[thread] = UseOf(thread);
    const double cpu0 = ProcessCpuMicroseconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    IdleFigures figures;
    figures.processCpuUs = ProcessCpuMicroseconds() - cpu0;
    for (pid_t thread : Threads()) {
        if (thread == ThisThread()) continue;
        const ThreadUse now = UseOf(thread);
        const ThreadUse then = before.count(thread) != 0 ? before[thread] : ThreadUse{};
        figures.otherThreadsCpuNs += now.cpuNs - then.cpuNs;
        figures.otherThreadsSwitches += now.switches - then.switches;
    }
    return figures;
}

// One idle second of the process alone (what the clock counts for a thread
// that only sleeps), then one with a connected provider that has a host.
void BM_IdleSecond(benchmark::State& state) {
    for (auto _ : state) {
        benchworld::ResetWorld();
        const IdleFigures alone = IdleSecond();
        ThreadNotingHost host;
        Connection link(&host, nullptr);
        const IdleFigures connected = IdleSecond();
        state.counters["alone_process_cpu_us"] = alone.processCpuUs;
        state.counters["connected_process_cpu_us"] = connected.processCpuUs;
        state.counters["connected_other_threads_cpu_ns"] = connected.otherThreadsCpuNs;
        state.counters["connected_other_threads_switches"] = connected.otherThreadsSwitches;
        state.counters["connected_threads"] = static_cast<double>(Threads().size());
    }
}
BENCHMARK(BM_IdleSecond)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void AddPhones(std::int64_t count) {
    benchworld::ResetWorld();
    for (std::int64_t i = 0; i < count; ++i) {
        benchworld::AddPhone(static_cast<std::uint32_t>(i + 1), LEAPI_DISCOVERY_KNOWN, false);
    }
}

// Bytes per registry device: what a Scan of N phones leaves allocated once
// its result is dropped (the registry), and what it allocates on the way
// beyond the stack's own discovery run, each divided by N.
void BM_RegistryBytes(benchmark::State& state) {
    const std::int64_t count = state.range(0);
    AddPhones(count);
    NoxBleProvider provider(nullptr, nullptr);
    for (auto _ : state) {
        const std::int64_t stack0 = AllocatedBytes();
        {
            std::uint64_t run = 0;
            LEAPI_DevicesDiscoveryStart(1, LEAPI_DISCOVERY_KNOWN, &run);
            LeDeviceRecord record;
            while (LEAPI_DevicesDiscoveryGetNext(run, &record) == LEAPI_SUCCESS) {
            }
            LEAPI_DevicesDiscoveryEnd(run);
        }
        const std::int64_t stackBytes = AllocatedBytes() - stack0;

        const std::int64_t live0 = LiveBytes();
        const std::int64_t allocated0 = AllocatedBytes();
        std::size_t found = provider.Scan(0).size();
        const std::int64_t allocated = AllocatedBytes() - allocated0;
        const std::int64_t kept = LiveBytes() - live0;
        if (found != static_cast<std::size_t>(count)) state.SkipWithError("the scan missed phones");
        const auto perDevice = [count](std::int64_t bytes) {
            return static_cast<double>(bytes) / static_cast<double>(count);
        };
        state.counters["kept_per_device"] = perDevice(kept);
        state.counters["scan_alloc_per_record"] = perDevice(allocated);
        state.counters["stack_alloc_per_record"] = perDevice(stackBytes);
        state.counters["module_alloc_per_record"] = perDevice(allocated - stackBytes);
        state.counters["sizeof_BleDevice"] = sizeof(BleDevice);
    }
}
BENCHMARK(BM_RegistryBytes)->ArgName("records")->Arg(10)->Arg(1000)->Arg(10000)->Iterations(1);

}  // namespace
