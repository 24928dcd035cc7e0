// The white-box tests' fixture: a fresh simulated world with one phone (an
// echoing data service), a provider whose events reach `host`, the module's
// trace records, and the module's process-wide tables emptied afterwards.
#ifndef NOXB_TESTS_SUPPORT_FIXTURE_H
#define NOXB_TESTS_SUPPORT_FIXTURE_H

#include <gtest/gtest.h>
#include <noxb/Exceptions.h>

#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "blegattwrapper/sessiontable.h"
#include "testworld.h"

using namespace testworld;
using Bytes = std::vector<std::uint8_t>;
using Call = HostEvents::Call;
using NotFound = noxb::BluetoothProvider::ProviderServiceNotFoundException;

// The record CheckLeapiReturnCode writes for a failed stack call.
inline std::string CheckRecord(std::uint32_t code, const std::string& at) {
    return "E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " + Code(code) + " at " + at;
}

// The operation lock is free: another thread's operation gets it at once.
inline void ExpectLockFree(NoxBleProvider& provider) {
    Timed next;
    std::thread([&] { next = TimedOutcome([&] { provider.Send(7, {1}); }); }).join();
    EXPECT_TRUE(next.outcome == "ServiceNotFound" && next.seconds < 0.9) << next.seconds;
}

// A device's session is the session table's and, when it has one, the
// stack's for the device `id`, kept for its callbacks; 1 when it has one.
inline std::size_t ExpectSessionAgrees(const BleDevice& dev, std::uint32_t id) {
    const std::uint64_t session = dev.SessionHandle();
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(dev)).value_or(kNoSession), session);
    const bool open = session != kNoSession;
    EXPECT_TRUE(!open || (LeSimSessionOf(id) == session && callbackHolders.Size() >= 1));
    return open;
}

class WorldTest : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        LeSimSetDiscoveryPace(0);
        phone = AddDevice();
        provider = std::make_unique<NoxBleProvider>(&host, Context());
        Settle();
    }
    void TearDown() override {
        LeSimFlushEvents();
        device.reset();
        provider.reset();
        callbackHolders.ReleaseAll();
        sessionsByAddress.Clear();
        LeSimReset();
        LeSimJournalEnable(1);
    }

    void* Context() { return &host; }
    // A device object outside the registry, as a scan makes it.
    std::shared_ptr<BleDevice> Create(const TestDevice& test) {
        return BleDevice::Create(test.record, &host, Context());
    }
    // Scans, connects the phone and keeps its device; then Settle().
    std::uint32_t ConnectPhone() {
        provider->Scan(0);
        const std::uint32_t handle = provider->Connect(EntryOf(phone));
        device = provider->FindBleDevice(handle);
        Settle();
        return handle;
    }
    // Waits for the stack's callbacks, then empties journal, records and host calls.
    void Settle() {
        LeSimFlushEvents();
        LeSimJournalClear();
        trace.Clear();
        host.Clear();
    }
    // Delivers a device event and waits until the module has handled it.
    static void Raise(std::uint64_t session, std::uint32_t event, const void* data = nullptr,
                      std::uint32_t length = 0) {
        ASSERT_EQ(LeSimRaiseDeviceEvent(session, event, data, length), 0u);
        LeSimFlushEvents();
    }
    static std::uint32_t HandleOf(const std::shared_ptr<BleDevice>& dev) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dev.get()));
    }
    // The records since Settle() of the named functions (all when none are
    // named), checked where a trace session exists.
    void ExpectRecords(const Lines& expected, const std::vector<std::string>& functions = {}) {
        EXPECT_EQ(trace.Of(functions), Trace::Available() ? expected : Lines{});
    }

    HostEvents host;
    Trace trace;
    TestDevice phone;
    std::unique_ptr<NoxBleProvider> provider;
    std::shared_ptr<BleDevice> device;  // the phone's, after ConnectPhone
};

#endif  // NOXB_TESTS_SUPPORT_FIXTURE_H
