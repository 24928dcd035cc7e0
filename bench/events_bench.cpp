// Value events (0x1210) of 512 bytes through the module's characteristic
// callback, called directly as the stack's callback thread calls it, with
// and without a host events object; beside them the floor of any collector
// (one append of the bytes) and the simulated stack's own delivery.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "benchworld.h"

namespace {

using benchworld::Connection;
using benchworld::kValueBytes;

// Without a host nobody takes the collected bytes: the benchmark empties the
// buffer every kDrainEvery events (1 MiB), as a read would, so that memory
// stays bounded. The cost is spread over the events in between.
constexpr std::int64_t kDrainEvery = 2048;

std::vector<std::uint8_t> EventRecord(std::uint64_t session, std::uint16_t valueHandle) {
    LeValueEventHeader header{};
    header.session = session;
    header.flag = 0;
    header.handle = valueHandle;
    header.length = static_cast<std::uint16_t>(kValueBytes);
    std::vector<std::uint8_t> record(sizeof header + kValueBytes);
    std::memcpy(record.data(), &header, sizeof header);
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    std::memcpy(record.data() + sizeof header, bytes.data(), bytes.size());
    return record;
}

// A host that takes the new bytes each time it is told of them.
class TakingHost final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void* /*context*/, BleDevice* /*device*/) override {}
    void OnCharacteristicData(void* /*context*/, BleCharacteristicInfo* info) override {
        taken += info->characteristic->TakeNotifications().size();
    }
    void OnSessionEstablished(void* /*context*/, std::uint64_t /*session*/) override {}
    std::uint64_t taken = 0;
};

void Count(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kValueBytes));
}

void BM_ValueEvent(benchmark::State& state) {
    const bool withHost = state.range(0) != 0;
    TakingHost host;
    Connection link(withHost ? &host : nullptr, nullptr);
    const std::vector<std::uint8_t> record = EventRecord(link.session, link.phone.valueHandle);
    BleCharacteristicInfo* info = link.data;
    std::int64_t sinceDrain = 0;
    for (auto _ : state) {
        BleCharacteristicInfo::OnCharacteristicCallback(LEAPI_EVENT_CHARACTERISTIC_VALUE,
                                                        record.data(), info);
        if (!withHost && ++sinceDrain == kDrainEvery) {
            info->characteristic->Clear();
            sinceDrain = 0;
        }
    }
    if (withHost && host.taken != static_cast<std::uint64_t>(state.iterations()) * kValueBytes) {
        state.SkipWithError("the host missed bytes");
    }
    Count(state);
}
BENCHMARK(BM_ValueEvent)->ArgName("host")->Arg(0)->Arg(1);

// The least any collector does with an event: append its bytes to a buffer,
// emptied as above.
void BareCollect(std::uint32_t /*event*/, const void* data, void* context) {
    LeValueEventHeader header;
    std::memcpy(&header, data, sizeof header);
    static_cast<std::string*>(context)->append(static_cast<const char*>(data) + sizeof header,
                                               header.length);
}

void BM_BareValueEvent(benchmark::State& state) {
    const std::vector<std::uint8_t> record = EventRecord(1, 1);
    std::string collected;
    std::int64_t sinceDrain = 0;
    for (auto _ : state) {
        BareCollect(LEAPI_EVENT_CHARACTERISTIC_VALUE, record.data(), &collected);
        benchmark::DoNotOptimize(collected.data());
        if (++sinceDrain == kDrainEvery) {
            collected.clear();
            sinceDrain = 0;
        }
    }
    Count(state);
}
BENCHMARK(BM_BareValueEvent);

// The simulated stack raising events and delivering them on its callback
// thread to a bare subscriber: what the stack itself spends on one event.
void BM_StackValueEvent(benchmark::State& state) {
    benchworld::ResetWorld();
    const benchworld::Phone phone =
        benchworld::AddPhone(1, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN, true);
    std::uint64_t slot = 0;
    LEAPI_Initialize(nullptr, nullptr, &slot);
    std::uint64_t session = 0;
    std::uint16_t extra = 0;
    LEAPI_GATTSessionEstablishEx(&phone.record, nullptr, nullptr, LEAPI_SESSION_OPTION_DEFAULT,
                                 &session, &extra);
    std::string collected;
    LEAPI_CharacteristicNotificationSubscribe(session, phone.valueHandle, &BareCollect, &collected);
    const std::vector<std::uint8_t> bytes = benchworld::ValueBytes();
    std::int64_t sinceDrain = 0;
    for (auto _ : state) {
        LeSimRaiseValueEvent(session, phone.valueHandle, 1, 0, bytes.data(),
                             static_cast<std::uint16_t>(bytes.size()));
        if (++sinceDrain == kDrainEvery) {
            LeSimFlushEvents();
            collected.clear();
            sinceDrain = 0;
        }
    }
    LeSimFlushEvents();
    LEAPI_GATTSessionClose(session);
    LEAPI_Uninitialize();
    benchworld::ResetWorld();
    Count(state);
}
BENCHMARK(BM_StackValueEvent)->UseRealTime();

}  // namespace
