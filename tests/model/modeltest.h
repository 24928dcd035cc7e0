// The model tests' fixture: a fresh simulated world with the stack
// initialised, an events object recording what the host is told, and the
// module's process-wide tables emptied afterwards.
#ifndef NOXB_TESTS_MODEL_MODELTEST_H
#define NOXB_TESTS_MODEL_MODELTEST_H

#include <gtest/gtest.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "blegattwrapper/sessiontable.h"
#include "testworld.h"

namespace modeltest {

using namespace testworld;
using Names = std::vector<std::string>;
using NotFound = noxb::BluetoothProvider::ProviderServiceNotFoundException;

// Slot 0 OnDeviceDisconnected, 1 OnCharacteristicData, 2 OnSessionEstablished.
struct HostCall {
    int slot;
    void* context;
    const void* object;  // the device or the characteristic
    std::uint64_t session;
    std::thread::id thread;
    std::string taken;  // what OnCharacteristicData took from the buffer
};

class HostEvents final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void* ctx, BleDevice* device) override { Add(0, ctx, device, 0); }
    void OnCharacteristicData(void* ctx, BleCharacteristicInfo* info) override {
        Add(1, ctx, info, 0, take ? info->characteristic->TakeNotifications() : "");
    }
    void OnSessionEstablished(void* ctx, std::uint64_t session) override {
        Add(2, ctx, nullptr, session);
    }
    std::vector<HostCall> Calls() const {
        std::lock_guard<std::mutex> hold(guard);
        return calls;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(guard);
        calls.clear();
    }
    std::atomic<bool> take{false};  // read the buffer inside OnCharacteristicData

  private:
    void Add(int slot, void* ctx, const void* object, std::uint64_t session,
             std::string taken = {}) {
        std::lock_guard<std::mutex> hold(guard);
        calls.push_back({slot, ctx, object, session, std::this_thread::get_id(), taken});
    }
    mutable std::mutex guard;
    std::vector<HostCall> calls;
};

// The code of the NoxBleProviderGeneralException that `call` throws, 0 if none.
template <class Call>
std::int32_t ThrownCode(Call call) {
    try {
        call();
    } catch (const NoxBleProviderGeneralException& e) {
        EXPECT_EQ(e.nativeCode, e.leapiCode);
        return e.leapiCode;
    }
    return 0;
}

inline std::string CheckRecord(std::uint32_t code, const std::string& at) {
    return "CheckLeapiReturnCode error: " + std::to_string(static_cast<int>(code)) + " at " + at;
}

class ModelTest : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        LeSimSetDiscoveryPace(0);
        std::uint64_t slot = 0;
        ASSERT_EQ(LEAPI_Initialize([](std::uint32_t, const void*, void*) {}, nullptr, &slot), 0u);
        Forget();
    }
    void TearDown() override {
        LeSimFlushEvents();
        LEAPI_Uninitialize();
        callbackHolders.ReleaseAll();
        sessionsByAddress.Clear();
        LeSimJournalEnable(1);
    }
    // A fresh world inside one test, for tables of cases.
    void Restart() {
        TearDown();
        SetUp();
    }

    void* Context() { return &host; }

    // A device with an open session; journal, records and host calls emptied.
    std::shared_ptr<BleDevice> Open(const TestDevice& test, IBleGattEvents* sink = nullptr) {
        auto device = BleDevice::Create(test.record, sink, Context());
        device->GATTSessionEstablish();
        LeSimFlushEvents();
        Forget();
        return device;
    }
    void Forget() {
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

    // The records since the last Forget() as "level module function: message";
    // checked where a trace session exists.
    void ExpectRecords(const Names& expected) const {
        if (!Trace::Available()) return;
        Names lines;
        for (const Record& r : trace.Records()) {
            lines.push_back(std::to_string(r.level) + " " + r.module + " " + r.function + ": " +
                            r.message);
        }
        EXPECT_EQ(lines, expected);
    }

    HostEvents host;
    Trace trace;
};

}  // namespace modeltest

#endif  // NOXB_TESTS_MODEL_MODELTEST_H
