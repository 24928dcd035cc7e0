// What the fuzz targets share, included by each target's one source file:
// the input, a fresh simulated world with phones, provider calls that may
// only fail with the provider's exception family, and the checks after every
// input. The targets run on virtual time (virtualclock.cpp) and the stack's
// callbacks arrive only when a target pumps them, so that an input replays
// exactly.
#ifndef NOXB_FUZZ_FUZZING_H
#define NOXB_FUZZ_FUZZING_H

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#include "blegattwrapper/gattuuids.h"
#include "blegattwrapper/noxbleprovider.h"
#include "blegattwrapper/sessiontable.h"
#include "textutil/bleaddress.h"

// The address sanitizer's settings for the targets, which make an input
// several times cheaper: a quarantine that still holds far more than one
// input frees, no filling of new blocks, short allocation stacks. ASAN_OPTIONS
// overrides them (malloc_context_size=30 replays a finding with whole stacks).
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=4";
}

// virtualclock.cpp: whether any thread holds the lock the module waited for
// last since ForgetLastLock.
bool LastLockHeld();
void ForgetLastLock();
// virtualclock.cpp: back to the instant every input starts at, so that an
// input replays alike whatever ran before it.
void RestartVirtualTime();

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kDeviceEvents[] = {
    LEAPI_EVENT_SESSION_DISCONNECTED, LEAPI_EVENT_SESSION_ESTABLISHED, LEAPI_EVENT_SESSION_CLOSED,
    LEAPI_EVENT_SERVICES_CHANGED};

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// The input, front to back; zeros once it has run out.
struct Input {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
    std::uint64_t U64() { return U32() | static_cast<std::uint64_t>(U32()) << 32; }
    void Fill(void* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) static_cast<std::uint8_t*>(out)[i] = Byte();
    }
    Bytes Take(std::size_t most) {  // a length below `most`, then as many bytes
        Bytes bytes(Byte() % most);
        Fill(bytes.data(), bytes.size());
        return bytes;
    }
    // Below `below`: a value of the table, by the next byte; otherwise any value.
    template <class Table>
    auto Pick(std::uint8_t below, const Table& table) {
        using Value = std::decay_t<decltype(table[0])>;
        if (Byte() < below) return table[Byte() % std::size(table)];
        return static_cast<Value>(sizeof(Value) == 8 ? U64() : U32());
    }
};

// An empty world with instant discovery, pumped delivery and no journal, and
// the module's process-wide tables emptied of what the stack (reset now) left
// there. An input ends with one too: what it made is freed by itself, so that
// libFuzzer sees as many frees as allocations and leaves its leak check (a
// second run) to inputs that leak.
inline void FreshWorld() {
    LeSimReset();  // discovery at once
    callbackHolders.ReleaseAll();
    sessionsByAddress.Clear();
    LeSimJournalEnable(0);
    LeSimSetPumpedDelivery(1);
    ForgetLastLock();
    RestartVirtualTime();
}

// Below `below`, the session's link is lost; then byte % 4 of the callbacks
// the stack queued run (0: every one).
inline void LoseLinkAndDeliver(std::uint8_t byte, std::uint8_t below, std::uint64_t session) {
    if (byte < below) LeSimDropSession(session);
    if (byte % 4 == 0) {
        LeSimFlushEvents();
    } else {
        LeSimPumpEvents(byte % 4);
    }
}

struct Phone {
    std::uint32_t id;
    std::uint16_t valueHandle;  // 0 without the data service
    BleDeviceEntry entry;
};

// A phone, with or without the data service (by the module's own UUIDs: the
// provider's tests check those); its data characteristic echoes what is
// written, as notifications too.
inline Phone AddPhone(std::uint8_t lastAddressByte, bool dataService) {
    const std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, lastAddressByte};
    LeDeviceRecord record;
    LeSimMakeDeviceRecord(&record, address, "Phone", 2, 12, -60, 1);
    const std::uint32_t id = LeSimAddDevice(&record, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN);
    Phone phone{id, 0, {L"Phone", FormatBleAddress(address), true, true}};
    if (!dataService) return phone;
    const LeUuid configuration{0, {0x02, 0x29}};
    LeSimAddService(id, &DataServiceUuid);
    phone.valueHandle = LeSimAddCharacteristic(
        id, &DataCharacteristicUuid,
        LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE,
        LESIM_VALUE_ECHO);
    LeSimAddDescriptor(id, &configuration);
    return phone;
}

// A provider call: whether it returned. Anything thrown outside the provider's
// family is a finding.
template <class F>
bool Call(const F& call) {
    try {
        call();
        return true;
    } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
        return false;
    } catch (...) {
        Fail("an exception outside the provider's family reached the host");
    }
}

// The host's events object; takes the notifications at every other value.
struct Events final : IBleGattEvents {
    void OnDeviceDisconnected(void*, BleDevice*) override {}
    void OnCharacteristicData(void*, BleCharacteristicInfo* info) override {
        if (++values % 2 == 0) info->characteristic->TakeNotifications();
    }
    void OnSessionEstablished(void*, std::uint64_t) override {}
    std::atomic<unsigned> values{0};
};

// After an input: the operation lock is free for another thread, and once
// the provider is gone nothing it made is left.
inline void Finish(std::unique_ptr<NoxBleProvider>& provider, const std::vector<Phone>& phones) {
    LeSimClearScripts();
    LeSimFlushEvents();
    Call([&] { provider->Send(7, {1}); });  // a handle never given: takes the lock
    if (LastLockHeld()) Fail("the operation lock was held after the input");
    std::vector<std::weak_ptr<BleDevice>> devices;
    for (const Phone& phone : phones) devices.push_back(provider->FindBleDevice(phone.entry));
    provider.reset();
    if (callbackHolders.Size() != 0) Fail("devices held after the stack was uninitialised");
    for (const auto& device : devices)
        if (!device.expired()) Fail("a device outlived its provider");
    FreshWorld();
}

}  // namespace fuzz

#endif  // NOXB_FUZZ_FUZZING_H
