// The host's calls with hostile arguments, in any order and from two threads
// at once: entries with any name and address text (any length, any units),
// service handles never given, durations and time-outs of any sign and size,
// empty and over-long data, the reserved slots, a provider replaced midway;
// the stack's callbacks pumped and links lost in between.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "fuzzing.h"

namespace {

const std::int64_t kScans[] = {INT64_MIN, -1000, -1, 0, 999, 1000, 2500, 255999, 256000, INT64_MAX};
const std::int64_t kTimeouts[] = {INT64_MIN, -1, 0, 1, 99, 100, 101, 1000, 3000, INT64_MAX};

// A decoded call, made by fuzz::Call.
using HostCall = std::function<void()>;

// The provider's state the calls share; both threads add handles.
struct Host {
    std::unique_ptr<NoxBleProvider> provider;
    fuzz::Phone phone, plain;  // with and without the data service
    std::mutex guard;
    std::vector<std::uint32_t> handles = {0, 7};
};

std::wstring Units(fuzz::Input& in) {
    std::wstring text(in.Byte() % 40, L'\0');
    for (wchar_t& unit : text) unit = static_cast<wchar_t>(in.Byte() < 128 ? in.Byte() : in.U32());
    return text;
}

BleDeviceEntry EntryOf(fuzz::Input& in, const Host& host) {
    const std::uint8_t kind = in.Byte();
    BleDeviceEntry entry = (kind & 1) != 0 ? host.plain.entry : host.phone.entry;
    if (kind < 128) return entry;
    if (kind < 192) {  // the phone's address with a unit changed, cut or added (at the end)
        const std::size_t at = in.Byte() % (entry.address.size() + 1);
        const auto unit = static_cast<wchar_t>(in.Byte());
        (unit < 8 && at < entry.address.size()) ? entry.address.erase(at)
                                                : entry.address.replace(at, 1, 1, unit);
        return entry;
    }
    return {Units(in), Units(in), (kind & 2) != 0, (kind & 4) != 0};  // in this order
}

std::uint32_t HandleOf(fuzz::Input& in, Host& host) {
    std::lock_guard<std::mutex> hold(host.guard);
    return in.Pick(192, host.handles);
}

// The next call, through what a host sees. A read that finds nothing waits out
// its time-out, a tenth of a second per try, so reads are bounded by the
// table's longest; but for one made `alone` with a time-out of INT64_MAX, which
// gets a value queued instead.
HostCall Decode(fuzz::Input& in, Host& host, bool alone) {
    const auto provider = [&host]() -> noxb::IBTProvider& { return *host.provider; };
    switch (in.Byte() % 8) {
        case 0:
            return [provider, duration = in.Pick(224, kScans)] { provider().Scan(duration); };
        case 1:
            return [&host, provider, entry = EntryOf(in, host)] {
                const std::uint32_t handle = provider().Connect(entry);
                std::lock_guard<std::mutex> hold(host.guard);
                host.handles.push_back(handle);
            };
        case 2:
            return [provider, handle = HandleOf(in, host)] { provider().Disconnect(handle); };
        case 3: {
            const std::uint32_t handle = HandleOf(in, host);
            fuzz::Bytes data(in.U16() % 700);  // up to past the 512 bytes a value holds
            in.Fill(data.data(), data.size());
            return [provider, handle, data] { provider().Send(handle, data); };
        }
        case 4: {
            std::int64_t timeout = in.Pick(224, kTimeouts);
            const std::uint32_t handle = HandleOf(in, host);
            if (!alone || timeout != INT64_MAX) timeout = std::min<std::int64_t>(timeout, 3000);
            if (timeout > 3000) LeSimQueueReadValue(host.phone.id, host.phone.valueHandle, "v", 1);
            return [provider, handle, timeout] {
                thread_local fuzz::Bytes received;
                provider().Receive(handle, timeout, received);
            };
        }
        case 5:
            return [provider, entry = EntryOf(in, host)] { provider().GetRSSI(entry); };
        case 6:  // every reserved slot, none of which does anything
            in.Byte();
            return [&host, provider] {
                noxb::IBTProvider& p = provider();
                (p.Reserved2(), p.Reserved7(), p.Reserved9(), p.Reserved10(nullptr, &host, nullptr),
                 p.Reserved11(&host, nullptr, &host), p.Reserved12(), p.Reserved13(),
                 p.Reserved14(), p.Reserved15());
            };
        default:  // the stack delivers, a link may be lost
            return [&host, byte = in.Byte()] {
                fuzz::LoseLinkAndDeliver(byte, 16, LeSimSessionOf(host.phone.id));
            };
    }
}

// The second host thread, kept for the whole run (one started for each
// batch would halve the inputs run a second): Both makes calls there while
// this thread makes others.
struct OtherThread {
    void Both(std::vector<HostCall> theirs, const std::vector<HostCall>& ours) {
        std::unique_lock<std::mutex> hold(guard);
        calls = std::move(theirs);  // never none
        changed.notify_all();
        hold.unlock();
        for (const HostCall& call : ours) fuzz::Call(call);
        hold.lock();
        changed.wait(hold, [&] { return calls.empty(); });
    }
    std::mutex guard;
    std::condition_variable changed;
    std::vector<HostCall> calls;
    std::thread worker{[this] {
        for (std::unique_lock<std::mutex> hold(guard);;) {
            changed.wait(hold, [&] { return !calls.empty(); });
            hold.unlock();
            for (const HostCall& call : calls) fuzz::Call(call);
            hold.lock();
            calls.clear();
            changed.notify_all();
        }
    }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static OtherThread* const other = new OtherThread;  // never joined
    fuzz::Input in{data, size};
    fuzz::FreshWorld();
    fuzz::Events events;
    IBleGattEvents* const sink = (in.Byte() & 1) != 0 ? &events : nullptr;
    Host host;
    host.phone = fuzz::AddPhone(1, true);
    host.plain = fuzz::AddPhone(2, false);
    host.provider = std::make_unique<NoxBleProvider>(sink, &events);
    for (int step = 0; !in.Empty() && step < 64; ++step) {
        const std::uint8_t choice = in.Byte();
        if (choice % 8 == 6) {  // calls on both threads at once
            std::vector<HostCall> theirs, ours;
            for (int i = choice / 8 % 4; i >= 0; --i) theirs.push_back(Decode(in, host, false));
            for (int i = choice / 32 % 4; i >= 0; --i) ours.push_back(Decode(in, host, false));
            other->Both(std::move(theirs), ours);
        } else if (choice % 8 == 7) {  // another provider in its place
            host.provider.reset();
            ForgetLastLock();
            host.provider = std::make_unique<NoxBleProvider>(sink, &events);
        } else {
            fuzz::Call(Decode(in, host, true));
        }
    }
    fuzz::Finish(host.provider, {host.phone, host.plain});
    return 0;
}
