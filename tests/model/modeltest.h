// The model tests' fixture: a fresh simulated world with the stack
// initialised, an events object recording what the host is told, and the
// module's process-wide tables emptied afterwards.
#ifndef NOXB_TESTS_MODEL_MODELTEST_H
#define NOXB_TESTS_MODEL_MODELTEST_H

#include <gtest/gtest.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <string>
#include <thread>
#include <vector>

#include "blegattwrapper/sessiontable.h"
#include "testworld.h"

namespace modeltest {

using namespace testworld;
using NotFound = noxb::BluetoothProvider::ProviderServiceNotFoundException;
using Call = HostEvents::Call;

inline std::string CheckRecord(std::uint32_t code, const std::string& at) {
    return "E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " + Code(code) + " at " + at;
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

    // The records since the last Forget(), checked where a trace session exists.
    void ExpectRecords(const Lines& expected) const {
        if (Trace::Available()) {
            EXPECT_EQ(trace.Of(), expected);
        }
    }

    HostEvents host;
    Trace trace;
};

}  // namespace modeltest

#endif  // NOXB_TESTS_MODEL_MODELTEST_H
