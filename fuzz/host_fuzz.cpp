// The host's calls with hostile arguments, in any order and from two threads
// at once: entries with any name and address text (any length, any units),
// service handles never given, durations and time-outs of any sign and size,
// empty and over-long data, the reserved slots, a provider replaced midway;
// the stack's callbacks pumped and links lost in between.
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "fuzzing.h"

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
const std::int64_t kDurations[] = {kMin, -1000, -1, 0, 999, 1000, 2500, 255999, 256000, kMax};
// A time-out of kMax would wait for ever on empty reads: it is asked for
// only with a value queued, by one thread (see Bound).
const std::int64_t kTimeouts[] = {kMin, -1, 0, 1, 99, 100, 101, 1000, 3000, kMax};

enum Kind : std::uint8_t { kScan, kConnect, kDisconnect, kSend, kReceive, kRssi, kSlot, kStack };

struct HostCall {
    Kind kind;
    BleDeviceEntry entry;
    std::uint32_t handle;
    std::int64_t number;  // duration, time-out, slot or stack action
    fuzz::Bytes data;
};

// The provider's state the calls share; both threads add handles.
struct Host {
    std::unique_ptr<NoxBleProvider> provider;
    fuzz::Phone phone, plain;  // with and without the data service
    std::mutex guard;
    std::vector<std::uint32_t> handles = {0, 7};
};

std::wstring Units(fuzz::Input& in) {
    std::wstring text(in.Byte() % 40, L'\0');
    for (wchar_t& unit : text) {
        unit = static_cast<wchar_t>(in.Byte() < 128 ? in.Byte() : in.U32());
    }
    return text;
}

BleDeviceEntry EntryOf(fuzz::Input& in, const Host& host) {
    const std::uint8_t kind = in.Byte();
    BleDeviceEntry entry = (kind & 1) != 0 ? host.plain.entry : host.phone.entry;
    if (kind < 128) return entry;
    if (kind < 192) {  // the phone's address with a unit changed, cut or added
        const std::size_t at = in.Byte() % (entry.address.size() + 1);
        const auto unit = static_cast<wchar_t>(in.Byte());
        if (at == entry.address.size()) {
            entry.address.push_back(unit);
        } else if (unit < 8) {
            entry.address.resize(at);
        } else {
            entry.address[at] = unit;
        }
        return entry;
    }
    entry.name = Units(in);
    entry.address = Units(in);
    entry.firstPass = (kind & 2) != 0;
    entry.connectable = (kind & 4) != 0;
    return entry;
}

HostCall Decode(fuzz::Input& in, Host& host) {
    HostCall call{static_cast<Kind>(in.Byte() % 8), {}, 0, 0, {}};
    switch (call.kind) {
        case kScan:
            call.number = in.Byte() < 224 ? kDurations[in.Byte() % std::size(kDurations)]
                                          : static_cast<std::int64_t>(in.U64());
            break;
        case kConnect:
        case kRssi:
            call.entry = EntryOf(in, host);
            break;
        case kReceive:
            call.number = in.Byte() < 224 ? kTimeouts[in.Byte() % std::size(kTimeouts)]
                                          : static_cast<std::int64_t>(in.U64());
            [[fallthrough]];
        case kDisconnect:
        case kSend: {
            std::lock_guard<std::mutex> hold(host.guard);
            call.handle =
                in.Byte() < 192 ? host.handles[in.Byte() % host.handles.size()] : in.U32();
            break;
        }
        default:
            call.number = in.Byte();
            break;
    }
    if (call.kind == kSend) {
        call.data.resize(in.U16() % 700);  // up to past the 512 bytes a value holds
        in.Fill(call.data.data(), call.data.size());
    }
    return call;
}

// Reads that find nothing wait out their time-out, a tenth of a second per
// read: longer ones than the longest in the table would hold the input.
void Bound(HostCall& call) {
    if (call.kind == kReceive) call.number = std::min<std::int64_t>(call.number, 3000);
}

void Run(Host& host, const HostCall& call) {
    noxb::IBTProvider& provider = *host.provider;  // what a host sees
    fuzz::Call([&] {
        switch (call.kind) {
            case kScan:
                provider.Scan(call.number);
                break;
            case kConnect: {
                const std::uint32_t handle = provider.Connect(call.entry);
                std::lock_guard<std::mutex> hold(host.guard);
                host.handles.push_back(handle);
                break;
            }
            case kDisconnect:
                provider.Disconnect(call.handle);
                break;
            case kSend:
                provider.Send(call.handle, call.data);
                break;
            case kReceive: {
                thread_local fuzz::Bytes received;
                provider.Receive(call.handle, call.number, received);
                break;
            }
            case kRssi:
                provider.GetRSSI(call.entry);
                break;
            case kSlot:  // every reserved slot, none of which does anything
                provider.Reserved2();
                provider.Reserved7();
                provider.Reserved9();
                provider.Reserved10(nullptr, &host, nullptr);
                provider.Reserved11(&host, nullptr, &host);
                provider.Reserved12();
                provider.Reserved13();
                provider.Reserved14();
                provider.Reserved15();
                break;
            case kStack:
                if (call.number < 16) LeSimDropSession(LeSimSessionOf(host.phone.id));
                fuzz::Deliver(static_cast<std::uint8_t>(call.number % 4));
                break;
        }
    });
}

// The second host thread, kept for the whole run: Start hands it calls,
// Wait waits until it has made them.
class OtherThread {
  public:
    OtherThread() {
        std::thread([this] {
            std::unique_lock<std::mutex> hold(guard);
            for (;;) {
                changed.wait(hold, [&] { return host != nullptr; });
                hold.unlock();
                for (const HostCall& call : calls) Run(*host, call);
                hold.lock();
                host = nullptr;
                changed.notify_all();
            }
        }).detach();
    }
    void Start(Host& on, std::vector<HostCall> next) {
        std::lock_guard<std::mutex> hold(guard);
        calls = std::move(next);
        host = &on;
        changed.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> hold(guard);
        changed.wait(hold, [&] { return host == nullptr; });
    }

  private:
    std::mutex guard;
    std::condition_variable changed;
    Host* host = nullptr;
    std::vector<HostCall> calls;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static OtherThread* const other = new OtherThread;  // never joined
    fuzz::Input in(data, size);
    fuzz::FreshWorld();
    fuzz::Events events;
    const bool sink = (in.Byte() & 1) != 0;
    Host host;
    host.phone = fuzz::AddPhone(1, true);
    host.plain = fuzz::AddPhone(2, false);
    host.provider = std::make_unique<NoxBleProvider>(sink ? &events : nullptr, &events);
    for (int step = 0; !in.Empty() && step < 64; ++step) {
        const std::uint8_t choice = in.Byte();
        if (choice % 8 == 6) {  // calls on both threads at once
            std::vector<HostCall> theirs, ours;
            for (int i = choice / 8 % 4; i >= 0; --i) theirs.push_back(Decode(in, host));
            for (int i = choice / 32 % 4; i >= 0; --i) ours.push_back(Decode(in, host));
            for (auto* calls : {&theirs, &ours}) {
                for (HostCall& call : *calls) Bound(call);
            }
            other->Start(host, std::move(theirs));
            for (const HostCall& call : ours) Run(host, call);
            other->Wait();
        } else if (choice % 8 == 7) {  // another provider in its place
            host.provider.reset();
            ForgetLastLock();
            host.provider = std::make_unique<NoxBleProvider>(sink ? &events : nullptr, &events);
        } else {
            HostCall call = Decode(in, host);
            if (call.kind == kReceive && call.number == kMax) {
                LeSimQueueReadValue(host.phone.id, host.phone.valueHandle, "v", 1);
            } else {
                Bound(call);
            }
            Run(host, call);
        }
    }
    fuzz::Finish(host.provider, {host.phone, host.plain});
    return 0;
}
