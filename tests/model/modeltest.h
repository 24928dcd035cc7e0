// The fixture of the device and GATT model tests: a fresh simulated world
// with the stack initialised, an events object that records what the module
// tells the host, and the module's process-wide tables emptied afterwards.
#ifndef NOXB_TESTS_MODEL_MODELTEST_H
#define NOXB_TESTS_MODEL_MODELTEST_H

#include <gtest/gtest.h>
#include <leapi/leapi.h>
#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "blegattwrapper/sessiontable.h"
#include "testworld.h"

namespace modeltest {

using namespace testworld;
using Names = std::vector<std::string>;

// One call of the host's events object: slot 0 OnDeviceDisconnected, 1
// OnCharacteristicData, 2 OnSessionEstablished.
struct HostCall {
    int slot;
    void* context;
    const void* object;
    std::uint64_t session;
    std::thread::id thread;
    std::string taken;  // what OnCharacteristicData read from the buffer
};

class HostEvents final : public IBleGattEvents {
  public:
    void OnDeviceDisconnected(void* ctx, BleDevice* device) override {
        Add({0, ctx, device, 0, {}, {}});
    }
    void OnCharacteristicData(void* ctx, BleCharacteristicInfo* info) override {
        HostCall call{1, ctx, info, 0, {}, {}};
        if (takeNotifications) call.taken = info->characteristic->TakeNotifications();
        Add(call);
    }
    void OnSessionEstablished(void* ctx, std::uint64_t session) override {
        Add({2, ctx, nullptr, session, {}, {}});
    }

    std::vector<HostCall> Calls() const {
        std::lock_guard<std::mutex> hold(guard);
        return calls;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(guard);
        calls.clear();
    }

    // Read the notification buffer inside OnCharacteristicData, as a host may.
    std::atomic<bool> takeNotifications{false};

  private:
    void Add(HostCall call) {
        call.thread = std::this_thread::get_id();
        std::lock_guard<std::mutex> hold(guard);
        calls.push_back(std::move(call));
    }
    mutable std::mutex guard;
    std::vector<HostCall> calls;
};

inline void IgnoreStackEvent(std::uint32_t, const void*, void*) {}

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
    void SetUp() override { Begin(); }
    void TearDown() override { End(); }

    // A fresh world inside one test, for tables of cases.
    void Restart() {
        End();
        Begin();
    }

    void* Context() { return &contextTag; }

    // A device with an open session and the stack's report of it delivered;
    // journal, records and host calls emptied.
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

    Names Messages() const { return trace.Messages(); }

    HostEvents host;
    Trace trace;

  private:
    void Begin() {
        LeSimReset();
        LeSimSetDiscoveryPace(0);
        std::uint64_t slot = 0;
        ASSERT_EQ(LEAPI_Initialize(&IgnoreStackEvent, nullptr, &slot), 0u);
        Forget();
    }
    void End() {
        LeSimFlushEvents();
        LEAPI_Uninitialize();
        callbackHolders.ReleaseAll();
        sessionsByAddress.Clear();
        LeSimClearScripts();
        LeSimJournalEnable(1);
    }

    int contextTag = 0;
};

}  // namespace modeltest

#endif  // NOXB_TESTS_MODEL_MODELTEST_H
