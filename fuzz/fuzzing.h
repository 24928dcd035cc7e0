// What the fuzz targets share, included by each target's one source file:
// the input, a fresh simulated world with phones, provider calls that may
// only fail with the provider's exception family, a second thread, and the
// checks after every input. The targets run on virtual time
// (virtualclock.cpp) and the stack's callbacks arrive only when a target
// pumps them, so that an input replays exactly.
#ifndef NOXB_FUZZ_FUZZING_H
#define NOXB_FUZZ_FUZZING_H

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "blegattwrapper/sessiontable.h"
#include "textutil/bleaddress.h"

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
class Input {
  public:
    Input(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length) {}
    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t U32() { return U16() | static_cast<std::uint32_t>(U16()) << 16; }
    std::uint64_t U64() { return U32() | static_cast<std::uint64_t>(U32()) << 32; }
    void Fill(void* out, std::size_t n) {
        const std::size_t have = at < size ? std::min(n, size - at) : 0;
        if (n != 0) std::memset(out, 0, n);
        if (have != 0) std::memcpy(out, data + at, have);
        at += have;
    }
    Bytes Take(std::size_t most) {  // a length below `most`, then as many bytes
        Bytes bytes(Byte() % most);
        Fill(bytes.data(), bytes.size());
        return bytes;
    }

  private:
    const std::uint8_t* data;
    std::size_t size, at = 0;
};

// An empty world with instant discovery and pumped delivery, and the
// module's process-wide tables emptied of what the last input's stack (reset
// now) left there.
inline void FreshWorld() {
    LeSimReset();
    LeSimSetDiscoveryPace(0);
    LeSimJournalEnable(0);
    LeSimSetPumpedDelivery(1);
    callbackHolders.ReleaseAll();
    sessionsByAddress.Clear();
}

// Runs the next `count` callbacks the stack queued; 0: every one.
inline void Deliver(std::uint8_t count) {
    if (count == 0) {
        LeSimFlushEvents();
    } else {
        LeSimPumpEvents(count);
    }
}

struct Phone {
    std::uint32_t id;
    std::uint16_t valueHandle;  // 0 without the data service
    BleDeviceEntry entry;
};

// A phone, with or without the data service; its data characteristic echoes
// what is written, as notifications too.
inline Phone AddPhone(std::uint8_t lastAddressByte, bool dataService) {
    const std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, lastAddressByte};
    LeDeviceRecord record;
    LeSimMakeDeviceRecord(&record, address, "Phone", 2, 12, -60, 1);
    const std::uint32_t id = LeSimAddDevice(&record, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN);
    Phone phone{id, 0, {L"Phone", FormatBleAddress(address), true, true}};
    if (!dataService) return phone;
    const LeUuid service{0, {0x11, 0x27}}, configuration{0, {0x02, 0x29}};
    const LeUuid characteristic{1,
                                {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E, 0x87, 0x57, 0x72,
                                 0xF6, 0xFA, 0xEB, 0x13, 0xD4}};
    LeSimAddService(id, &service);
    phone.valueHandle = LeSimAddCharacteristic(
        id, &characteristic,
        LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE,
        LESIM_VALUE_ECHO);
    LeSimAddDescriptor(id, &configuration);
    return phone;
}

// A provider call: whether it returned. Anything thrown outside the provider's
// family is a finding.
inline bool Call(const std::function<void()>& call) {
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
class Events final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void*, BleDevice*) override {}
    void OnCharacteristicData(void*, BleCharacteristicInfo* info) override {
        if (++values % 2 == 0) info->characteristic->TakeNotifications();
    }
    void OnSessionEstablished(void*, std::uint64_t) override {}

  private:
    std::atomic<unsigned> values{0};
};

// A thread of the targets' own, kept for the whole run (one per input would
// cost more than the input): Start hands it a call, Wait waits for its end.
class OtherThread {
  public:
    static OtherThread& Get() {
        static OtherThread* const other = new OtherThread;  // never joined
        return *other;
    }
    void Start(std::function<void()> next) {
        std::lock_guard<std::mutex> hold(guard);
        call = std::move(next);
        changed.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> hold(guard);
        changed.wait(hold, [&] { return !call; });
    }

  private:
    OtherThread() {
        std::thread([this] {
            std::unique_lock<std::mutex> hold(guard);
            for (;;) {
                changed.wait(hold, [&] { return static_cast<bool>(call); });
                hold.unlock();
                call();
                hold.lock();
                call = nullptr;
                changed.notify_all();
            }
        }).detach();
    }
    std::mutex guard;
    std::condition_variable changed;
    std::function<void()> call;
};

// After an input: the operation lock is free for another thread (its wait
// gives up at once on virtual time, so a held lock fails the call), and once
// the provider is gone nothing it made is left.
inline void Finish(std::unique_ptr<NoxBleProvider>& provider, const std::vector<Phone>& phones) {
    LeSimClearScripts();
    LeSimFlushEvents();
    OtherThread::Get().Start([&] {
        try {
            provider->Send(7, {1});  // no connection has handle 7
        } catch (const noxb::BluetoothProvider::ProviderServiceNotFoundException&) {
            return;
        } catch (...) {
        }
        Fail("the operation lock was held after the input");
    });
    OtherThread::Get().Wait();
    std::vector<std::weak_ptr<BleDevice>> devices;
    for (const Phone& phone : phones) devices.push_back(provider->FindBleDevice(phone.entry));
    provider.reset();
    if (callbackHolders.Size() != 0) Fail("devices held after the stack was uninitialised");
    for (const auto& device : devices) {
        if (!device.expired()) Fail("a device outlived its provider");
    }
}

}  // namespace fuzz

#endif  // NOXB_FUZZ_FUZZING_H
