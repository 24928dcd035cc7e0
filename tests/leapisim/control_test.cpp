// Scripted answers, the journal, initialisation cycles and callback delivery.
#include <atomic>
#include <chrono>
#include <future>

#include "sim_test_util.h"

namespace simtest {
namespace {

std::uint64_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// A device with one service and one characteristic (value handle 3).
std::uint16_t AddValue(const TestDevice& d, std::uint8_t properties) {
    LeUuid u = U16(0x2711);
    LeSimAddService(d.id, &u);
    return LeSimAddCharacteristic(d.id, &u, properties, LESIM_VALUE_STORE);
}

using LeSimScriptTest = SimTest;

TEST_F(LeSimScriptTest, NextCallsAnswerTheCodeWithoutSideEffectsThenBehaveNormally) {
    TestDevice d = AddDevice(1);
    const std::uint16_t vh = AddValue(d, LEAPI_PROP_WRITE);
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_SESSION_EXISTS, 1);
    std::uint64_t s = 1;
    std::uint16_t extra = 2;
    EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&d.record, &Recorder::Callback, &rec, 2, &s, &extra),
              LEAPI_ERROR_SESSION_EXISTS);
    EXPECT_TRUE(s == 1 && LeSimSessionCount() == 0);
    s = Open(d, &rec);

    const char* fn = "LEAPI_GATTSessionRSSIGet";
    ASSERT_EQ(LeSimScript(fn, LEAPI_ERROR_AGAIN, 2), LEAPI_SUCCESS);
    ASSERT_EQ(LeSimScript(fn, 0, 1), LEAPI_SUCCESS);
    ASSERT_EQ(LeSimScript(fn, LEAPI_ERROR_BUSY, 1), LEAPI_SUCCESS);
    std::int16_t rssi = 5;
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_ERROR_AGAIN);
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_ERROR_AGAIN);
    EXPECT_EQ(rssi, 5);                                            // outputs untouched
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_SUCCESS);  // the code-0 entry
    EXPECT_EQ(rssi, -60);
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_ERROR_BUSY);
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_SUCCESS);
    EXPECT_EQ(LeSimScript("LEAPI_NoSuchCall", 1, 1), LEAPI_ERROR_INVALID_PARAMETER);
    ASSERT_EQ(LeSimScript(fn, LEAPI_ERROR_BUSY, 5), LEAPI_SUCCESS);
    LeSimClearScripts();
    EXPECT_EQ(LEAPI_GATTSessionRSSIGet(s, &rssi), LEAPI_SUCCESS);

    LeSimScript("LEAPI_CharacteristicWriteLong", 0xEAEA0099u, 1);
    CharacteristicValue v = Value(vh, 4);
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(s, &v), 0xEAEA0099u);
    EXPECT_EQ(LeSimLastWrittenValue(d.id, vh, nullptr, 0), 0u);
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_INVALID_SESSION_HANDLE, 1);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LeSimSessionOf(d.id), s);
}

TEST(LeSimScriptedInitialize, ScriptsComeBeforeTheInitialisationCheck) {
    LeSimReset();
    LeSimScript("LEAPI_Initialize", LEAPI_ALREADY_INITIALIZED, 1);
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 1);
    std::uint64_t slot = 0, h = 0;
    EXPECT_EQ(LEAPI_Initialize(nullptr, nullptr, &slot), LEAPI_ALREADY_INITIALIZED);
    EXPECT_EQ(LEAPI_DevicesDiscoveryStart(0, 1, &h), LEAPI_ERROR_BUSY);
    EXPECT_EQ(LEAPI_DevicesDiscoveryStart(0, 1, &h), LEAPI_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(LEAPI_Initialize(nullptr, nullptr, &slot), LEAPI_SUCCESS);
    EXPECT_NE(slot, 0u);
    LeSimReset();
}

using LeSimJournalTest = SimTest;

TEST_F(LeSimJournalTest, RecordsArgumentsRecordsAndOutputs) {
    TestDevice d = AddDevice(1);
    const std::uint16_t vh = AddValue(d, LEAPI_PROP_READ | LEAPI_PROP_WRITE);
    LeSimJournalClear();
    std::uint64_t s = Open(d, &rec);
    LeSimCall c = Journal().back();
    EXPECT_STREQ(c.function, "LEAPI_GATTSessionEstablishEx");
    ASSERT_EQ(c.argCount, 6u);
    EXPECT_TRUE(c.args[0] == Addr(&d.record) && c.args[2] == Addr(&rec));
    EXPECT_EQ(c.args[3], LEAPI_SESSION_OPTION_DEFAULT);
    EXPECT_TRUE(c.args[4] == s && c.args[5] == 247);  // the outputs
    ASSERT_EQ(c.dataLength, sizeof(LeDeviceRecord));
    EXPECT_EQ(std::memcmp(c.data, &d.record, sizeof d.record), 0);

    CharacteristicValue v = Value(vh, 5, 40), out{};
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(s, &v), LEAPI_SUCCESS);
    ASSERT_EQ(LEAPI_CharacteristicReadLong(s, vh, &out), LEAPI_SUCCESS);
    for (const LeSimCall& call : {Journal().end()[-2], Journal().back()}) {
        ASSERT_EQ(call.dataLength, 9u);  // the value written, then the value read
        EXPECT_EQ(std::memcmp(call.data, &v, 9), 0);
    }
    LeSimScript("LEAPI_GATTSessionRSSIGet", LEAPI_ERROR_BUSY, 1);
    std::int16_t rssi = 3;
    LEAPI_GATTSessionRSSIGet(s, &rssi);
    EXPECT_TRUE(Journal().back().result == LEAPI_ERROR_BUSY && Journal().back().args[1] == 3);
    LEAPI_GATTSessionRSSIGet(s, &rssi);
    EXPECT_EQ(static_cast<std::int64_t>(Journal().back().args[1]), -60);

    const std::uint32_t count = LeSimJournalCount();
    LeSimJournalEnable(0);
    LEAPI_GATTSessionRSSIGet(s, &rssi);
    EXPECT_EQ(LeSimJournalCount(), count);
}

using LeSimLifecycleTest = SimTest;

TEST_F(LeSimLifecycleTest, InitializeKeepsTheFirstCallbackUntilUninitialize) {
    Recorder& second = Another();
    EXPECT_EQ(LEAPI_Initialize(&Recorder::Callback, &second, nullptr), LEAPI_ALREADY_INITIALIZED);
    for (std::uint32_t i = 0; i < 100; ++i) LeSimRaiseStackEvent(i, nullptr, 0);
    LeSimFlushEvents();
    std::vector<Event> events = stackEvents.Events();
    ASSERT_EQ(events.size(), 100u);
    for (std::uint32_t i = 0; i < 100; ++i) EXPECT_EQ(events[i].code, i);  // in queue order
    EXPECT_TRUE(second.Events().empty());
    ASSERT_EQ(LEAPI_Uninitialize(), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_Uninitialize(), LEAPI_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(LeSimRaiseStackEvent(1, nullptr, 0), LEAPI_ERROR_NOT_INITIALIZED);

    ASSERT_EQ(LEAPI_Initialize(&Recorder::Callback, &second, nullptr), LEAPI_SUCCESS);
    ASSERT_EQ(LeSimRaiseStackEvent(LEAPI_EVENT_RADIO_STATE, nullptr, 0), LEAPI_SUCCESS);
    LeSimFlushEvents();
    EXPECT_EQ(second.Events().size(), 1u);
}

TEST_F(LeSimLifecycleTest, UninitializeWaitsForTheRunningCallbackAndDropsWhatIsPending) {
    std::uint64_t s = Open(AddDevice(1), &rec);
    LeSimFlushEvents();
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::atomic<bool> blocked{false};
    stackEvents.hook = [&, open](std::uint32_t) {
        blocked = true;
        open.wait();
    };
    LeSimRaiseStackEvent(1, nullptr, 0);
    LeSimRaiseStackEvent(2, nullptr, 0);
    LeSimRaiseDeviceEvent(s, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
    while (!blocked) std::this_thread::yield();
    auto uninit = std::async(std::launch::async, [] { return LEAPI_Uninitialize(); });
    EXPECT_EQ(uninit.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    gate.set_value();
    EXPECT_EQ(uninit.get(), LEAPI_SUCCESS);
    EXPECT_EQ(stackEvents.Events().size(), 1u);
    EXPECT_EQ(rec.Events().size(), 1u);  // only the ESTABLISHED event
    EXPECT_EQ(LeSimSessionCount(), 0u);
}

using LeSimDispatchTest = SimTest;

// A slow stack-wide callback keeps the dispatcher busy while the session's
// events wait behind it; closing the session takes them back.
TEST_F(LeSimDispatchTest, ClosePurgesCallbacksNotYetDelivered) {
    TestDevice d = AddDevice(1);
    const std::uint16_t vh = AddValue(d, LEAPI_PROP_NOTIFY);
    std::uint64_t s = Open(d, &rec);
    ASSERT_EQ(LEAPI_CharacteristicNotificationSubscribe(s, vh, &Recorder::Callback, &rec), 0u);
    LeSimFlushEvents();
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    stackEvents.hook = [open](std::uint32_t) { open.wait(); };
    LeSimRaiseStackEvent(1, nullptr, 0);
    ASSERT_EQ(LeSimRaiseValueEvent(s, vh, 1, 0, "late", 4), 1u);
    ASSERT_EQ(LeSimDropSession(s), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    gate.set_value();
    LeSimFlushEvents();
    EXPECT_EQ(rec.Events().size(), 1u);  // ESTABLISHED only: no value, no DISCONNECTED
}

TEST_F(LeSimDispatchTest, CloseWaitsForTheSessionsRunningCallback) {
    std::atomic<bool> started{false}, finished{false};
    rec.hook = [&](std::uint32_t code) {
        if (code != LEAPI_EVENT_SERVICES_CHANGED) return;
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    };
    std::uint64_t s = Open(AddDevice(1), &rec);
    LeSimRaiseDeviceEvent(s, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
    while (!started) std::this_thread::yield();
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_SUCCESS);
    EXPECT_TRUE(finished);
}

TEST_F(LeSimDispatchTest, CallbacksMayCallIntoTheStackEvenToCloseOrUninitialize) {
    TestDevice d = AddDevice(1);
    const std::uint16_t vh = AddValue(d, LEAPI_PROP_READ);
    std::uint32_t readResult = 1, closeResult = 1, uninitResult = 1;
    std::uint64_t s = 0;
    rec.hook = [&](std::uint32_t code) {
        if (code != LEAPI_EVENT_SERVICES_CHANGED) return;
        CharacteristicValue out{};
        readResult = LEAPI_CharacteristicReadLong(s, vh, &out);
        LeSimRaiseStackEvent(42, nullptr, 0);
        closeResult = LEAPI_GATTSessionClose(s);  // its own session, from its own callback
    };
    stackEvents.hook = [&](std::uint32_t code) {
        if (code == 42) uninitResult = LEAPI_Uninitialize();
    };
    s = Open(d, &rec);
    LeSimRaiseDeviceEvent(s, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
    LeSimFlushEvents();
    LeSimFlushEvents();  // the stack event was queued by the callback, after the first flush
    EXPECT_TRUE(readResult == 0 && closeResult == 0 && uninitResult == 0);

    Recorder& again = Another();  // a new dispatcher thread serves the next initialisation
    ASSERT_EQ(LEAPI_Initialize(&Recorder::Callback, &again, nullptr), LEAPI_SUCCESS);
    LeSimRaiseStackEvent(2, nullptr, 0);
    LeSimFlushEvents();
    EXPECT_EQ(again.Events().size(), 1u);
}

}  // namespace
}  // namespace simtest
