// Host threads call Send, Receive, GetRSSI, Connect and Disconnect on one
// provider for a bounded time (NOXB_STRESS_SECONDS, 20 by default) while the
// simulated stack raises device and value events from its own thread, loses
// links and fails calls on purpose. Every call must end within its bound with
// an outcome of the provider's exception family; afterwards the lock is free,
// each device's session is the stack's and the session table's, and nothing
// outlives the provider.
#include <gtest/gtest.h>

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "blegattwrapper/sessiontable.h"
#include "testworld.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

enum Op { kSend, kReceive, kGetRSSI, kConnect, kDisconnect, kOps };
enum Outcome { kReturned, kConnectionFailed, kServiceNotFound, kGeneral, kForeign, kOutcomes };
const char* const kOpNames[kOps] = {"Send", "Receive", "GetRSSI", "Connect", "Disconnect"};
const Op kMix[] = {kSend,    kSend,    kSend,    kReceive, kReceive,
                   kGetRSSI, kGetRSSI, kConnect, kConnect, kDisconnect};
// The longest a call may take: its wait for the lock, for a transfer a whole
// recovery (six tries of a 1 s pause and a refresh) and both reads, and a
// margin for sanitizer builds and emulation.
double Bound(int op) {
    return (op == kGetRSSI || op == kDisconnect ? 3.0 : 1.0) +
           (op == kSend || op == kReceive ? 6.5 : 0.0) + 5.0;
}
// Failed now and then with a code of no meaning to the module: transfers
// recover, refreshes are repeated, openings and signal strength fail.
const char* const kFailing[] = {
    "LEAPI_CharacteristicWriteLong",      "LEAPI_CharacteristicReadLong",
    "LEAPI_ServicesDiscoveryStartByUUID", "LEAPI_CharacteristicDescriptorWrite",
    "LEAPI_GATTSessionEstablishEx",       "LEAPI_GATTSessionRSSIGet"};

Outcome OutcomeOf(const std::function<void()>& call) {
    try {
        call();
        return kReturned;
    } catch (const noxb::BluetoothProvider::ConnectionFailedException&) {
        return kConnectionFailed;
    } catch (const noxb::BluetoothProvider::ProviderServiceNotFoundException&) {
        return kServiceNotFound;
    } catch (const noxb::BluetoothProvider::ProviderGeneralException&) {
        return kGeneral;
    } catch (...) {
        return kForeign;
    }
}

class HostEvents final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void*, BleDevice*) override { ++lost; }
    void OnCharacteristicData(void*, BleCharacteristicInfo* info) override {
        bytes += info->characteristic->TakeNotifications().size();
    }
    void OnSessionEstablished(void*, std::uint64_t) override { ++sessions; }
    std::atomic<unsigned long long> lost{0}, bytes{0}, sessions{0};
};

struct Worker {
    std::array<std::array<unsigned long long, kOutcomes>, kOps> counts{};
    std::array<double, kOps> longest{};
    std::atomic<bool> done{false};
    std::thread thread;
};

TEST(Stress, HostThreadsAndTheStacksThreadShareOneProvider) {
    const char* setting = std::getenv("NOXB_STRESS_SECONDS");
    const int seconds = setting != nullptr && std::atoi(setting) > 0 ? std::atoi(setting) : 20;
    LeSimReset();
    LeSimSetDiscoveryPace(0);
    std::vector<testworld::TestDevice> phones;
    for (std::uint8_t last = 1; last <= 3; ++last) {
        testworld::DeviceSpec spec;
        spec.lastAddressByte = last;
        phones.push_back(testworld::AddDevice(spec));
    }
    HostEvents events;
    auto provider = std::make_unique<NoxBleProvider>(&events, &events);
    provider->Scan(0);
    std::vector<BleDeviceEntry> entries;
    std::vector<std::weak_ptr<BleDevice>> devices;
    std::vector<std::uint32_t> handles;  // the same device objects throughout: no scans
    for (const testworld::TestDevice& phone : phones) {
        entries.push_back(testworld::EntryOf(phone));
        const std::shared_ptr<BleDevice> device = provider->FindBleDevice(entries.back());
        ASSERT_NE(device, nullptr);
        devices.push_back(device);
        handles.push_back(
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(device.get())));
    }
    LeSimJournalEnable(0);

    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::array<Worker, 4> workers;
    for (std::size_t t = 0; t < workers.size(); ++t) {
        workers[t].thread = std::thread([&, t] {
            Worker& w = workers[t];
            std::mt19937 random(static_cast<unsigned>(t + 1));
            Bytes received;
            while (Clock::now() < end) {
                const std::size_t d = random() % phones.size();
                const Op op = kMix[random() % std::size(kMix)];
                const auto start = Clock::now();
                const Outcome outcome = OutcomeOf([&] {
                    if (op == kSend) provider->Send(handles[d], Bytes(1 + random() % 40, 0x5A));
                    if (op == kReceive) provider->Receive(handles[d], 20, received);
                    if (op == kGetRSSI) provider->GetRSSI(entries[d]);
                    if (op == kConnect) provider->Connect(entries[d]);
                    if (op == kDisconnect) provider->Disconnect(handles[d]);
                });
                ++w.counts[op][outcome];
                const std::chrono::duration<double> took = Clock::now() - start;
                w.longest[op] = std::max(w.longest[op], took.count());
            }
            w.done = true;
        });
    }

    // The stack: value events on every open session and device events, as
    // fast as its callback thread delivers them, a lost link every 2.5 s and
    // a failing call every 1.5 s.
    std::atomic<bool> stop{false};
    unsigned long long posted = 0, values = 0, deviceEvents = 0, drops = 0, failures = 0;
    std::thread stack([&] {
        std::mt19937 random(99);
        const std::uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        auto nextDrop = Clock::now(), nextFailure = Clock::now();
        while (!stop) {
            for (const testworld::TestDevice& phone : phones) {
                const std::uint64_t session = LeSimSessionOf(phone.id);
                if (session == LEAPI_NO_SESSION) continue;
                const std::uint32_t queued = LeSimRaiseValueEvent(
                    session, phone.valueHandle, 3, random() & 1, bytes, 1 + random() % 8);
                values += queued;
                posted += queued;
                // The session announced again, another session closed, the services changed.
                const LeSessionEstablishedEvent again{session,
                                                      static_cast<std::uint16_t>(random())};
                const LeSessionClosedEvent other{session + 1};
                const unsigned kind = random() % 6;
                const std::uint32_t rc =
                    kind == 0   ? LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SESSION_ESTABLISHED,
                                                        &again, sizeof again)
                    : kind == 1 ? LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SESSION_CLOSED, &other,
                                                        sizeof other)
                    : kind == 2
                        ? LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0)
                        : 1;
                if (rc == 0) ++deviceEvents, ++posted;
            }
            const auto now = Clock::now();
            if (now >= nextDrop) {  // event 0x1020
                if (LeSimDropSession(LeSimSessionOf(phones[random() % phones.size()].id)) == 0) {
                    ++drops, ++posted;
                }
                nextDrop = now + std::chrono::milliseconds(2500);
            }
            if (now >= nextFailure) {
                LeSimScript(kFailing[random() % std::size(kFailing)], 0xEAEA0005, 1);
                ++failures;
                nextFailure = now + std::chrono::milliseconds(1500);
            }
            while (!stop && static_cast<long long>(posted - LeSimDeliveredEventCount()) > 500) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Watchdog: a call still running a minute after the end is a deadlock.
    for (Worker& w : workers) {
        while (!w.done) {
            if (Clock::now() > end + std::chrono::seconds(60)) {
                std::fprintf(stderr, "stress: a host call never returned\n");
                std::abort();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        w.thread.join();
    }
    stop = true;
    stack.join();
    LeSimClearScripts();
    LeSimFlushEvents();
    LeSimJournalEnable(1);

    unsigned long long calls = 0;
    std::printf("stress: %d s, %zu host threads, %zu devices\n%-10s %8s %8s %8s %8s %8s %8s %8s\n",
                seconds, workers.size(), phones.size(), "operation", "calls", "returned",
                "connfail", "notfound", "general", "foreign", "longest");
    for (int op = 0; op < kOps; ++op) {
        std::array<unsigned long long, kOutcomes> sum{};
        double longest = 0;
        for (const Worker& w : workers) {
            for (int o = 0; o < kOutcomes; ++o) sum[o] += w.counts[op][o];
            longest = std::max(longest, w.longest[op]);
        }
        const unsigned long long n = sum[0] + sum[1] + sum[2] + sum[3] + sum[4];
        calls += n;
        std::printf("%-10s %8llu %8llu %8llu %8llu %8llu %8llu %7.2fs\n", kOpNames[op], n, sum[0],
                    sum[1], sum[2], sum[3], sum[4], longest);
        EXPECT_EQ(sum[kForeign], 0u) << kOpNames[op];
        EXPECT_GT(sum[kReturned], 0u) << kOpNames[op];
        EXPECT_LE(longest, Bound(op)) << kOpNames[op];
    }
    std::printf(
        "stress: %llu calls; the stack raised %llu value events and %llu device events, "
        "lost %llu links, failed %llu calls, delivered %llu callbacks; the host was told "
        "of %llu sessions, %llu lost links and %llu notified bytes\n",
        calls, values, deviceEvents, drops, failures,
        static_cast<unsigned long long>(LeSimDeliveredEventCount()), events.sessions.load(),
        events.lost.load(), events.bytes.load());

    // The lock is free: another thread's operation gets it at once.
    const testworld::Timed next = testworld::OnOtherThread([&] { provider->Send(7, Bytes{1}); });
    EXPECT_EQ(next.outcome, "ServiceNotFound");
    EXPECT_LT(next.seconds, 0.9);
    // Each device's session is the stack's and the session table's; only a
    // connected device has one, and the module keeps it for its callbacks.
    std::size_t open = 0;
    for (std::size_t d = 0; d < phones.size(); ++d) {
        SCOPED_TRACE(d);
        const std::shared_ptr<BleDevice> device = devices[d].lock();
        ASSERT_NE(device, nullptr);
        const std::uint64_t session = device->SessionHandle();
        EXPECT_EQ(session, LeSimSessionOf(phones[d].id));
        EXPECT_EQ(sessionsByAddress.Find(AddressOf(*device)).value_or(kNoSession), session);
        const bool connected = OutcomeOf([&] { provider->FindBleDevice(handles[d]); }) == kReturned;
        EXPECT_TRUE(connected || session == kNoSession);
        open += session != kNoSession;
    }
    EXPECT_GE(callbackHolders.Size(), open);
    for (std::uint32_t handle : handles) {
        EXPECT_EQ(OutcomeOf([&] { provider->Disconnect(handle); }), kReturned);
    }
    EXPECT_EQ(LeSimSessionCount(), 0u);
    EXPECT_EQ(sessionsByAddress.Size(), 0u);
    // Nothing outlives the provider.
    provider.reset();
    EXPECT_EQ(callbackHolders.Size(), 0u);
    for (const auto& device : devices) EXPECT_TRUE(device.expired());
    LeSimReset();
}

}  // namespace
