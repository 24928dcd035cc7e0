// Scripted answers, the journal, and callbacks a close takes back.
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
    const std::uint64_t s = Open(d, &rec);

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

    LeSimScript("LEAPI_CharacteristicWriteLong", 0xEAEA0099u, 1);
    CharacteristicValue v = Value(vh, 4);
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(s, &v), 0xEAEA0099u);
    EXPECT_EQ(LeSimLastWrittenValue(d.id, vh, nullptr, 0), 0u);
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_INVALID_SESSION_HANDLE, 1);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LeSimSessionOf(d.id), s);
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
    out.handle = vh;  // a read leaves the handle to the caller
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

    const std::uint32_t count = LeSimJournalCount();
    LeSimJournalEnable(0);
    LEAPI_GATTSessionRSSIGet(s, &rssi);
    EXPECT_EQ(LeSimJournalCount(), count);
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

}  // namespace
}  // namespace simtest
