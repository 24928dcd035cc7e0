// Worlds of devices for the benchmarks, built in the simulated stack, a
// provider connected to one of them, and a trace session that listens to the
// module's events at Info.
#ifndef NOXB_BENCH_BENCHWORLD_H
#define NOXB_BENCH_BENCHWORLD_H

#include <benchmark/benchmark.h>
#include <etwshim/etwshim.h>
#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/IBTProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"

namespace benchworld {

// The bytes of every transfer: the largest value a record carries.
inline constexpr std::size_t kValueBytes = LEAPI_MAX_VALUE_LENGTH;
std::vector<std::uint8_t> ValueBytes();

// An empty world, discovery without pauses and the stack's journal off: a
// benchmark measures the stack's work, not its bookkeeping for tests.
void ResetWorld();

struct Phone {
    std::uint32_t id = 0;
    LeDeviceRecord record{};
    std::uint16_t valueHandle = 0;  // of the data characteristic, 0 if none
};

// A named, connectable phone, seen by discovery runs with `discoveryFlags`.
// `index` makes its address and name ("Phone <index>"). With `dataService`
// it offers the data service; its data characteristic keeps what is written
// (no echo, no notification), so writes queue nothing.
Phone AddPhone(std::uint32_t index, std::uint8_t discoveryFlags, bool dataService);

// The text of an address as the module writes it.
std::wstring AddressText(const LeDeviceRecord& record);

// A provider connected to one phone of an otherwise empty world.
struct Connection {
    explicit Connection(IBleGattEvents* sink = nullptr, void* context = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Phone phone;
    std::unique_ptr<NoxBleProvider> provider;
    std::uint32_t handle = 0;
    std::uint64_t session = 0;
    std::shared_ptr<BleDevice> device;
    BleCharacteristicInfo* data = nullptr;  // the device's data characteristic
};

// A trace session enabled at Info for the module's provider, as long as it
// lives. Its consumer does what a session does with an event: it copies the
// five strings into its buffer (one event's worth, reused).
class TraceSession {
  public:
    TraceSession();
    ~TraceSession();
    TraceSession(const TraceSession&) = delete;
    TraceSession& operator=(const TraceSession&) = delete;

    std::uint64_t Events() const { return events; }

  private:
    static void Consume(const GUID* providerId, const EVENT_DESCRIPTOR* descriptor, uint32_t count,
                        const EVENT_DATA_DESCRIPTOR* items, void* context);
    std::uint64_t events = 0;
    std::vector<char> buffer;
};

// For the figures with an LTTng session around the process: waits up to 3 s
// for the module's Info records to be enabled, and marks the run as failed
// if they are not.
void RequireTracerSession(benchmark::State& state);

}  // namespace benchworld

#endif  // NOXB_BENCH_BENCHWORLD_H
