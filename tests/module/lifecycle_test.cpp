// Provider construction and destruction against the simulated stack: the
// calls it makes and the records it writes.
#include <gtest/gtest.h>

#include <leapi/leapi.h>
#include <leapisim/leapisim.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "testworld.h"

namespace {

using testworld::CallsWithResults;
using testworld::Code;
using testworld::Lines;
using testworld::Trace;

class Lifecycle : public testing::Test {
  protected:
    void SetUp() override { LeSimReset(); }
    void TearDown() override { LeSimReset(); }
    Trace trace;
};

const std::string kMade = "I BLE_STRING NoxBleProvider::NoxBleProvider: ";
const std::string kGone = "I BLE_STRING NoxBleProvider::~NoxBleProvider: ";
const Lines kMadeRecords = {kMade + "start constructing NoxBleProvider",
                            kMade + "Initialize succeed or provider already exists"};
const std::string kUninitFailed =
    "E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " + Code(LEAPI_ERROR_NOT_INITIALIZED) +
    " at LEAPI_Uninitialize";

TEST_F(Lifecycle, StackWideEventsChangeNothing) {
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_NE(testworld::Journal().at(0).args[2], 0u);  // somewhere for the stack to write
    const std::uint32_t radioState = 1;
    const unsigned char device[14] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    LeSimRaiseStackEvent(LEAPI_EVENT_RADIO_STATE, &radioState, sizeof radioState);
    LeSimRaiseStackEvent(LEAPI_EVENT_DEVICE_LOST, device, sizeof device);
    LeSimRaiseStackEvent(0x9999, nullptr, 0);
    LeSimFlushEvents();
    EXPECT_EQ(LeSimDeliveredEventCount(), 3u);
    EXPECT_EQ(testworld::JournalNames(), Lines{"LEAPI_Initialize"});
}

TEST_F(Lifecycle, OnlyAnInitialisedProviderUninitialisesAndAFailureStaysInside) {
    const std::string initFailed = "LEAPI_Initialize=" + Code(LEAPI_ERROR_NOT_PERMITTED);
    const struct {
        std::uint32_t initialize, uninitialize;
        bool initialised;
        Lines calls, records;
    } rows[] = {
        {0,
         0,
         true,
         {"LEAPI_Initialize", "LEAPI_Uninitialize"},
         {kMadeRecords[0], kMadeRecords[1], kGone + "start destruct NoxBleProvider",
          kGone + "Uninitialization succeed"}},
        {LEAPI_ERROR_NOT_PERMITTED,
         0,
         false,
         {initFailed},
         {kMade + "start constructing NoxBleProvider", kMade + "initialize failed",
          kGone + "start destruct NoxBleProvider", kGone + "provider already Uninitialized"}},
        // A throwing destructor would end the process here.
        {0,
         LEAPI_ERROR_NOT_INITIALIZED,
         true,
         {"LEAPI_Initialize", "LEAPI_Uninitialize=" + Code(LEAPI_ERROR_NOT_INITIALIZED)},
         {kMadeRecords[0], kMadeRecords[1], kGone + "start destruct NoxBleProvider",
          kUninitFailed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.calls.back());
        LeSimReset();
        trace.Clear();
        LeSimScript("LEAPI_Initialize", row.initialize, 1);
        auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
        EXPECT_EQ(provider->StackInitialised(), row.initialised);
        EXPECT_TRUE(provider->Reserved7());
        LeSimScript("LEAPI_Uninitialize", row.uninitialize, 1);
        provider.reset();
        EXPECT_EQ(CallsWithResults(), row.calls);
        if (Trace::Available()) {
            EXPECT_EQ(trace.Of(), row.records);
        }
    }
}

// A second provider finds the stack initialised (0x6AEA0025) and counts as
// initialised. There is no count of providers: the first to go uninitialises
// the stack for both.
TEST_F(Lifecycle, TwoInitialisedProvidersEachUninitialiseOnce) {
    auto first = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    trace.Clear();
    auto second = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_TRUE(first->StackInitialised() && second->StackInitialised());
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of(), kMadeRecords);
    }
    trace.Clear();
    second.reset();
    first.reset();
    EXPECT_EQ(
        CallsWithResults(),
        (Lines{"LEAPI_Initialize", "LEAPI_Initialize=" + Code(LEAPI_ALREADY_INITIALIZED),
               "LEAPI_Uninitialize", "LEAPI_Uninitialize=" + Code(LEAPI_ERROR_NOT_INITIALIZED)}));
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of(), (Lines{kGone + "start destruct NoxBleProvider",
                                     kGone + "Uninitialization succeed",
                                     kGone + "start destruct NoxBleProvider", kUninitFailed}));
    }
}

}  // namespace
