// Long writes, polled long reads and the notification and indication values
// of the data characteristic.
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
    void OpenData(IBleGattEvents* sink = nullptr) {
        DeviceSpec spec;
        spec.behaviour = LESIM_VALUE_STORE;
        spec.properties = LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY;
        test = AddDevice(spec);
        device = Open(test, sink);
        device->RefreshServices();
        info = device->FindService()->FindCharacteristic();
        session = device->SessionHandle();
        Forget();
    }

    std::string Notified() { return info->characteristic->TakeNotifications(); }

    TestDevice test;
    std::shared_ptr<BleDevice> device;
    std::shared_ptr<BleCharacteristicInfo> info;
    std::uint64_t session = 0;
};

TEST_F(Transfer, AWriteCarriesAtMost512Bytes) {
    OpenData();
    for (std::size_t size : {600u, 512u, 5u, 0u}) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        LeSimJournalClear();
        info->WriteLong(bytes);
        const std::vector<LeSimCall> calls = JournalOf("LEAPI_CharacteristicWriteLong");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args[0], session);
        const std::size_t length = std::min<std::size_t>(size, 512);
        ASSERT_EQ(calls[0].dataLength, 4 + length) << size;
        EXPECT_EQ(calls[0].data[0] | calls[0].data[1] << 8, test.valueHandle);
        EXPECT_EQ(calls[0].data[2] | calls[0].data[3] << 8, static_cast<int>(length));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + length, calls[0].data + 4));
    }
    EXPECT_EQ(+info->characteristic->value.length, 0u);  // its own holder is not used

    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(ThrownCode([&] { info->WriteLong({1}); }),
              static_cast<int>(LEAPI_ERROR_NOT_PERMITTED));
    if (Trace::Available()) {
        EXPECT_EQ(Messages(),
                  Names{CheckRecord(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicWriteLong")});
    }
}

TEST_F(Transfer, AReadReturnsExactlyTheBytesReadOrNoneAfterTheTimeOut) {
    OpenData();
    // Nothing to read and time-out 0: one call.
    Bytes out{9, 9, 9};
    info->ReadLong(out, 0);
    EXPECT_TRUE(out.empty());
    std::vector<LeSimCall> calls = Journal();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].function, "LEAPI_CharacteristicReadLong");
    EXPECT_EQ(calls[0].args[0], session);
    EXPECT_EQ(calls[0].args[1], test.valueHandle);

    // Five bytes over a longer vector.
    const Bytes five = {1, 2, 3, 4, 5};
    LeSimQueueReadValue(test.id, test.valueHandle, five.data(), 5);
    out.assign(20, 0xEE);
    Forget();
    info->ReadLong(out, 1000);
    EXPECT_EQ(out, five);
    EXPECT_EQ(LeSimJournalCount(), 1u);
    EXPECT_EQ(+info->characteristic->value.length, 5u);

    // 0xEAEA0022 is no answer: asked again, then the value comes.
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_AGAIN, 2);
    Forget();
    out.clear();
    info->ReadLong(out, 1000);
    EXPECT_EQ(out, five);
    EXPECT_EQ(LeSimJournalCount(), 3u);

    // Empty answers are polled every 100 ms until the time-out has passed.
    LeSimQueueReadValue(test.id, test.valueHandle, nullptr, 0);
    Forget();
    const Clock::time_point start = Clock::now();
    info->ReadLong(out, 250);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(out.empty());
    EXPECT_GE(elapsed, milliseconds(250));
    EXPECT_LT(elapsed, milliseconds(3000));
    EXPECT_GE(LeSimJournalCount(), 2u);
    EXPECT_LE(LeSimJournalCount(), 5u);
}

TEST_F(Transfer, AnAgainAnswerIsAskedAgainWithoutPause) {
    OpenData();
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_AGAIN, 0xFFFFFFFFu);
    Bytes out{7};
    const Clock::time_point start = Clock::now();
    EXPECT_NO_THROW(info->ReadLong(out, 300));
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(out.empty());
    EXPECT_GE(elapsed, milliseconds(300));
    EXPECT_LT(elapsed, milliseconds(5000));
    // A pause after each answer would leave room for three or four calls.
    EXPECT_GT(LeSimJournalCount(), 20u);
}

TEST_F(Transfer, AReadDiscardsCollectedValuesAndAFailedOneLeavesOutAsItWas) {
    OpenData();
    const std::uint8_t note[] = {4, 5};
    LeSimRaiseValueEvent(session, test.valueHandle, 1, 1, note, 2);
    LeSimFlushEvents();
    Bytes out{1, 2, 3};
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(ThrownCode([&] { info->ReadLong(out, 1000); }),
              static_cast<int>(LEAPI_ERROR_NOT_PERMITTED));
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    EXPECT_EQ(Notified(), "");
    EXPECT_EQ(LeSimJournalCount(), 1u);
    if (Trace::Available()) {
        EXPECT_EQ(Messages(),
                  Names{CheckRecord(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicReadLong")});
    }

    LeSimRaiseValueEvent(session, test.valueHandle, 1, 1, note, 2);
    LeSimRaiseValueEvent(session, test.valueHandle, 1, 1, note, 2);
    LeSimFlushEvents();
    const std::uint8_t one = 42;
    LeSimQueueReadValue(test.id, test.valueHandle, &one, 1);
    info->ReadLong(out, 0);
    EXPECT_EQ(out, Bytes{42});
    EXPECT_EQ(Notified(), "");
}

TEST_F(Transfer, ValueEventsAreCollectedAndAnnouncedByTheirOwnRules) {
    OpenData(&host);
    const struct {
        const char* what;
        std::uint32_t event;
        std::uint64_t sessionOffset;
        std::uint16_t handleOffset;
        std::uint8_t flag;
        bool appended, told;
    } cases[] = {
        {"own value", LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 0, 0, true, true},
        {"another session", LEAPI_EVENT_CHARACTERISTIC_VALUE, 1, 0, 0, false, false},
        {"another handle", LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 1, 0, false, true},
        {"more to come", LEAPI_EVENT_CHARACTERISTIC_VALUE, 0, 0, 1, true, false},
        {"another event", LEAPI_EVENT_CHARACTERISTIC_VALUE + 1, 0, 0, 0, false, false},
    };
    const char value[] = "abc";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LeValueEventHeader header{session + c.sessionOffset, c.flag,
                                  static_cast<std::uint16_t>(test.valueHandle + c.handleOffset), 3};
        std::uint8_t record[sizeof header + 3];
        std::memcpy(record, &header, sizeof header);
        std::memcpy(record + sizeof header, value, 3);
        ASSERT_EQ(
            LeSimRaiseRawValueEvent(session, test.valueHandle, c.event, record, sizeof record), 1u);
        LeSimFlushEvents();
        EXPECT_EQ(Notified(), c.appended ? "abc" : "");
        const std::vector<HostCall> calls = host.Calls();
        ASSERT_EQ(calls.size(), c.told ? 1u : 0u);
        if (c.told) {
            EXPECT_EQ(calls[0].slot, 1);
            EXPECT_EQ(calls[0].context, Context());
            EXPECT_EQ(calls[0].object, info.get());
            EXPECT_NE(calls[0].thread, std::this_thread::get_id());
        }
        host.Clear();
    }

    // Values add up; the host may take them inside its callback.
    LeSimRaiseValueEvent(session, test.valueHandle, 1, 1, value, 3);
    host.takeNotifications = true;
    LeSimRaiseValueEvent(session, test.valueHandle, 1, 0, value, 2);
    LeSimFlushEvents();
    const std::vector<HostCall> calls = host.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].taken, "abcab");
    EXPECT_EQ(Notified(), "");
}

TEST_F(Transfer, WithoutAnEventsObjectValuesAreStillCollected) {
    OpenData(nullptr);
    LeSimRaiseValueEvent(session, test.valueHandle, 1, 0, "xy", 2);
    LeSimFlushEvents();
    EXPECT_EQ(Notified(), "xy");
    EXPECT_TRUE(host.Calls().empty());
}

}  // namespace
