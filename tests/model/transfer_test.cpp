// Long writes, polled long reads and the notification and indication values
// of the data characteristic.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "modeltest.h"

namespace {

using namespace modeltest;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Transfer : public ModelTest {
  protected:
    // A refreshed device whose data characteristic keeps what is written and
    // offers notifications only (one subscription).
    void OpenData(IBleGattEvents* sink, std::uint8_t lastAddressByte = 1) {
        DeviceSpec spec;
        spec.lastAddressByte = lastAddressByte;
        spec.behaviour = LESIM_VALUE_STORE;
        spec.properties = LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY;
        test = AddDevice(spec);
        device = Open(test, sink);
        info = device->FindService()->FindCharacteristic();
        session = device->SessionHandle();
        Forget();
    }
    void SetUp() override {
        ModelTest::SetUp();
        OpenData(nullptr);
    }
    std::string Notified() { return info->characteristic->TakeNotifications(); }
    void Notify(std::uint8_t flag, const char* bytes) {
        LeSimRaiseValueEvent(session, test.valueHandle, 1, flag, bytes,
                             static_cast<std::uint16_t>(std::strlen(bytes)));
        LeSimFlushEvents();
    }
    // Reads with a time-out; returns how long it took.
    Clock::duration TimedRead(Bytes& out, std::int64_t timeoutMs) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(Outcome([&] { info->ReadLong(out, timeoutMs); }), "none");
        return Clock::now() - start;
    }

    TestDevice test;
    std::shared_ptr<BleDevice> device;
    std::shared_ptr<BleCharacteristicInfo> info;
    std::uint64_t session = 0;
};

TEST_F(Transfer, AWriteCarriesAtMost512Bytes) {
    for (std::size_t size : {600u, 5u, 0u}) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        LeSimJournalClear();
        info->WriteLong(bytes);
        const LeSimCall call = Journal().at(0);
        EXPECT_EQ(call.args[0], session);
        const std::size_t length = std::min<std::size_t>(size, 512);
        ASSERT_EQ(call.dataLength, 4 + length) << size;
        EXPECT_EQ(call.data[0] | call.data[1] << 8, test.valueHandle);
        EXPECT_EQ(call.data[2] | call.data[3] << 8, static_cast<int>(length));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + length, call.data + 4));
    }
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(Outcome([&] { info->WriteLong({1}); }), General(LEAPI_ERROR_NOT_PERMITTED));
    ExpectRecords({CheckRecord(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicWriteLong")});
}

TEST_F(Transfer, AReadReturnsExactlyTheBytesReadOrNoneAfterTheTimeOut) {
    Bytes out{9, 9, 9};
    EXPECT_LT(TimedRead(out, 0), milliseconds(1000));  // nothing to read: one call
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(Journal().size(), 1u);
    EXPECT_STREQ(Journal()[0].function, "LEAPI_CharacteristicReadLong");
    EXPECT_TRUE(Journal()[0].args[0] == session && Journal()[0].args[1] == test.valueHandle);

    const Bytes five = {1, 2, 3, 4, 5};
    LeSimQueueReadValue(test.id, test.valueHandle, five.data(), 5);
    out.assign(20, 0xEE);
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_AGAIN, 2);  // asked again at once
    Forget();
    TimedRead(out, 1000);
    EXPECT_EQ(out, five);
    EXPECT_EQ(LeSimJournalCount(), 3u);

    LeSimQueueReadValue(test.id, test.valueHandle, nullptr, 0);
    Forget();
    const Clock::duration took = TimedRead(out, 250);  // empty answers are polled every 100 ms
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(took >= milliseconds(250) && took < milliseconds(3000));
    EXPECT_LE(LeSimJournalCount(), 5u);

    // An again answer all along is asked again without pause until the time-out.
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_AGAIN, 0xFFFFFFFFu);
    Forget();
    out = {7};
    EXPECT_GE(TimedRead(out, 300), milliseconds(300));
    EXPECT_TRUE(out.empty());
    EXPECT_GT(LeSimJournalCount(), 20u);  // pausing would leave room for three or four
}

TEST_F(Transfer, AReadDiscardsCollectedValuesAndAFailedOneLeavesOutAsItWas) {
    Notify(1, "ab");
    Bytes out{1, 2, 3};
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(Outcome([&] { info->ReadLong(out, 1000); }), General(LEAPI_ERROR_NOT_PERMITTED));
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    EXPECT_EQ(Notified(), "");
    ExpectRecords({CheckRecord(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicReadLong")});
    Notify(1, "ab");
    const std::uint8_t one = 42;
    LeSimQueueReadValue(test.id, test.valueHandle, &one, 1);
    info->ReadLong(out, 0);
    EXPECT_EQ(out, Bytes{42});
    EXPECT_EQ(Notified(), "");
}

TEST_F(Transfer, ValueEventsAreCollectedAndAnnouncedByTheirOwnRules) {
    Notify(0, "xy");  // no events object: collected, nobody told
    EXPECT_EQ(Notified(), "xy");
    OpenData(&host, 2);
    const struct {
        std::uint32_t event;
        std::uint64_t otherSession;
        std::uint16_t otherHandle;
        std::uint8_t flag;
        bool appended, told;
    } cases[] = {
        {LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 0, 0, true, true},
        {LEAPI_EVENT_CHARACTERISTIC_VALUE, 1, 0, 0, false, false},
        {LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 1, 0, false, true},
        {LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 0, 1, true, false},
        {LEAPI_EVENT_CHARACTERISTIC_VALUE + 1, 0, 0, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const LeValueEventHeader header{
            session + c.otherSession, c.flag,
            static_cast<std::uint16_t>(test.valueHandle + c.otherHandle), 3};
        std::uint8_t record[sizeof header + 3] = {};
        std::memcpy(record, &header, sizeof header);
        std::memcpy(record + sizeof header, "abc", 3);
        ASSERT_EQ(
            LeSimRaiseRawValueEvent(session, test.valueHandle, c.event, record, sizeof record), 1u);
        LeSimFlushEvents();
        EXPECT_EQ(Notified(), c.appended ? "abc" : "");
        const std::vector<Call> calls = host.Calls();
        ASSERT_EQ(calls.size(), c.told ? 1u : 0u);
        if (c.told) {
            EXPECT_TRUE(calls[0].slot == HostEvents::kData && calls[0].object == info.get());
            EXPECT_EQ(calls[0].context, Context());
            EXPECT_NE(calls[0].thread, std::this_thread::get_id());
        }
        host.Clear();
    }
    // Values add up; the host may take them inside its callback.
    Notify(1, "abc");
    host.take = true;
    Notify(0, "de");
    ASSERT_EQ(host.Calls().size(), 1u);
    EXPECT_EQ(host.Calls()[0].bytes, "abcde");
    EXPECT_EQ(Notified(), "");

    // A read hands the stack the record of the very holder the host reaches.
    const auto* told = static_cast<const BleCharacteristicInfo*>(host.Calls()[0].object);
    Forget();
    const std::uint8_t one = 42;
    LeSimQueueReadValue(test.id, test.valueHandle, &one, 1);
    Bytes out;
    info->ReadLong(out, 0);
    ASSERT_EQ(Journal().size(), 1u);
    EXPECT_EQ(Journal()[0].args[2], reinterpret_cast<std::uintptr_t>(told->characteristic.get()));
    EXPECT_EQ(+told->characteristic->value.length, 1);
}

}  // namespace
