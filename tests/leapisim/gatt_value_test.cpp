// GATT discovery, subscriptions, descriptor writes, and long reads and writes.
#include "sim_test_util.h"

namespace simtest {
namespace {

// One device, handles given out in this order:
//   1 service 0x1800           2/3 char 0x2A00 (read, store)
//   4 service 0x2711           5/6 data char (read, write, notify, indicate; echo)
//                              7 descriptor 0x2901, 8 descriptor 0x2902
//   9 service 0x2711 with non-zero bytes 2..15 (still 0x2711 by the 16-bit rule)
//                              10/11 data char (write, indicate; store), no descriptors
//                              12/13 char 0x2A01 (write only), 14 descriptor 0x2902
//  15 service, 128-bit, whose first value bytes are 11 27
class LeSimGattTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        dev = AddDevice(1);
        LeUuid noisy = U16(0x2711), wide = U16(0x2711), u;
        std::memset(noisy.value + 2, 0xFF, 14);
        wide.type = LEAPI_UUID_TYPE_128;
        const std::uint32_t id = dev.id;
        ASSERT_EQ(LeSimAddService(id, &(u = U16(0x1800))), 1);
        ASSERT_EQ(LeSimAddCharacteristic(id, &(u = U16(0x2A00)), 0x02, LESIM_VALUE_STORE), 3);
        ASSERT_EQ(LeSimAddService(id, &(u = U16(0x2711))), 4);
        ASSERT_EQ(
            LeSimAddCharacteristic(id, &(u = DataCharacteristicUuid()), 0x3A, LESIM_VALUE_ECHO), 6);
        ASSERT_EQ(LeSimAddDescriptor(id, &(u = U16(0x2901))), 7);
        ASSERT_EQ(LeSimAddDescriptor(id, &(u = U16(0x2902))), 8);
        ASSERT_EQ(LeSimAddService(id, &noisy), 9);
        ASSERT_EQ(
            LeSimAddCharacteristic(id, &(u = DataCharacteristicUuid()), 0x28, LESIM_VALUE_STORE),
            11);
        ASSERT_EQ(LeSimAddCharacteristic(id, &(u = U16(0x2A01)), 0x08, LESIM_VALUE_STORE), 13);
        ASSERT_EQ(LeSimAddDescriptor(id, &(u = U16(0x2902))), 14);
        ASSERT_EQ(LeSimAddService(id, &wide), 15);
        session = Open(dev, &rec);
    }

    // Reads a whole discovery run and ends it; returns the first and last
    // handles of each record.
    template <class Record>
    static std::vector<std::pair<int, int>> Drain(std::uint32_t startResult, std::uint64_t h,
                                                  std::uint16_t n,
                                                  std::uint32_t (*next)(std::uint64_t, Record*),
                                                  std::uint32_t (*end)(std::uint64_t),
                                                  std::pair<int, int> (*handles)(const Record&)) {
        EXPECT_EQ(startResult, LEAPI_SUCCESS);
        std::vector<std::pair<int, int>> out;
        Record r{};
        for (std::uint16_t i = 0; i < n; ++i) {
            EXPECT_EQ(next(h, &r), LEAPI_SUCCESS);
            out.push_back(handles(r));
        }
        EXPECT_EQ(next(h, &r), LEAPI_ERROR_NO_MORE_ITEMS);
        EXPECT_EQ(end(h), LEAPI_SUCCESS);
        return out;
    }
    using Ranges = std::vector<std::pair<int, int>>;
    Ranges Services(LeUuid u) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        std::uint32_t rc = LEAPI_ServicesDiscoveryStartByUUID(session, &u, &h, &n);
        return Drain<LeServiceRecord>(rc, h, n, LEAPI_ServicesDiscoveryGetNext,
                                      LEAPI_ServicesDiscoveryEnd, [](const LeServiceRecord& r) {
                                          return std::make_pair<int, int>(r.firstHandle,
                                                                          r.lastHandle);
                                      });
    }
    Ranges Characteristics(std::uint16_t first, std::uint16_t last) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        LeUuid u = DataCharacteristicUuid();
        std::uint32_t rc =
            LEAPI_CharacteristicsDiscoveryStartByUUID(session, first, last, &u, &h, &n);
        return Drain<LeCharacteristicRecord>(
            rc, h, n, LEAPI_CharacteristicsDiscoveryGetNext, LEAPI_CharacteristicsDiscoveryEnd,
            [](const LeCharacteristicRecord& r) {
                return std::make_pair<int, int>(r.valueHandle, r.lastHandle);
            });
    }
    Ranges Descriptors(std::uint16_t valueHandle, std::uint16_t last) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        std::uint32_t rc =
            LEAPI_CharacteristicDescriptorsDiscoveryStart(session, valueHandle, last, &h, &n);
        return Drain<LeDescriptorRecord>(rc, h, n, LEAPI_CharacteristicDescriptorsDiscoveryGetNext,
                                         LEAPI_CharacteristicDescriptorsDiscoveryEnd,
                                         [](const LeDescriptorRecord& r) {
                                             return std::make_pair<int, int>(r.handle, r.handle);
                                         });
    }

    void SetClientConfig(std::uint8_t bits) {
        CharacteristicValue v = Value(8, 2);
        v.data[0] = bits;
        v.data[1] = 0;
        ASSERT_EQ(LEAPI_CharacteristicDescriptorWrite(session, &v), LEAPI_SUCCESS);
    }

    std::vector<std::uint8_t> Read(std::uint16_t valueHandle) {
        CharacteristicValue out{};
        EXPECT_EQ(LEAPI_CharacteristicReadLong(session, valueHandle, &out), LEAPI_SUCCESS);
        EXPECT_EQ(F(out.handle), valueHandle);
        return std::vector<std::uint8_t>(out.data, out.data + out.length);
    }

    TestDevice dev{};
    std::uint64_t session = 0;
};

TEST_F(LeSimGattTest, DiscoveryFindsByUuidWithinTheRanges) {
    // Services by the 16-bit rule; a 128-bit UUID compares all 16 bytes.
    EXPECT_EQ(Services(U16(0x2711)), (Ranges{{4, 8}, {9, 14}}));
    LeUuid wide = U16(0x2711);
    wide.type = LEAPI_UUID_TYPE_128;
    EXPECT_EQ(Services(wide), (Ranges{{15, 15}}));
    EXPECT_TRUE(Services(U16(0x180F)).empty());
    // Characteristics by their declaration, up to their last descriptor.
    EXPECT_EQ(Characteristics(1, 0xFFFF), (Ranges{{6, 8}, {11, 11}}));
    EXPECT_EQ(Characteristics(4, 8).size(), 1u);
    EXPECT_TRUE(Characteristics(6, 9).empty());  // its declaration is 5
    // Descriptors after the value handle, up to the last handle asked for.
    EXPECT_EQ(Descriptors(6, 8), (Ranges{{7, 7}, {8, 8}}));
    EXPECT_EQ(Descriptors(6, 7).size(), 1u);
    EXPECT_TRUE(Descriptors(11, 0xFFFF).empty());
    std::uint64_t h = 0;
    std::uint16_t n = 0;
    EXPECT_EQ(LEAPI_CharacteristicDescriptorsDiscoveryStart(session, 7, 8, &h, &n),
              LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE);
}

TEST_F(LeSimGattTest, SubscriptionsAreCheckedAgainstWhatIsOfferedAndAddUp) {
    auto cb = &Recorder::Callback;
    EXPECT_EQ(LEAPI_CharacteristicNotificationSubscribe(session, 11, cb, &rec),
              LEAPI_ERROR_NOT_OFFERED);
    EXPECT_EQ(LEAPI_CharacteristicIndicationSubscribe(session, 11, cb, &rec), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_CharacteristicNotificationSubscribe(session, 7, cb, &rec),
              LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE);
    EXPECT_EQ(LEAPI_CharacteristicNotificationSubscribe(session, 6, cb, &rec), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_CharacteristicNotificationSubscribe(session, 6, cb, &rec), LEAPI_SUCCESS);
    EXPECT_EQ(LeSimSubscriptionCount(session), 3u);
    // Both subscriptions on handle 6 keep receiving; kind 1 skips indications.
    EXPECT_EQ(LeSimRaiseValueEvent(session, 6, 3, 0, "x", 1), 2u);
    EXPECT_EQ(LeSimRaiseValueEvent(session, 11, 1, 0, "x", 1), 0u);
    EXPECT_EQ(LeSimRaiseValueEvent(session, 11, 2, 5, "abc", 3), 1u);
    EXPECT_EQ(LeSimRaiseRawValueEvent(session, 11, 0x7777, "\1\2\3", 3), 1u);
    LeSimFlushEvents();
    std::vector<Event> events = rec.Events();
    ASSERT_EQ(events.size(), 5u);  // ESTABLISHED, two values on 6, the flagged one, the raw one
    EXPECT_TRUE(events[3].Value().flag == 5 && events[3].Value().length == 3);
    EXPECT_EQ(events[4].code, 0x7777u);
}

TEST_F(LeSimGattTest, LongWritesAreStoredAndReadBackAndChecked) {
    SetClientConfig(3);
    EXPECT_EQ(LeSimDescriptorValue(dev.id, 8), 3);
    CharacteristicValue v = Value(14, 513), out{};
    EXPECT_EQ(LEAPI_CharacteristicDescriptorWrite(session, &v), LEAPI_ERROR_INVALID_LENGTH);
    v = Value(12, 1);
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE);
    v = Value(3, 1);
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_ERROR_NOT_PERMITTED);
    EXPECT_EQ(LEAPI_CharacteristicReadLong(session, 13, &out), LEAPI_ERROR_NOT_PERMITTED);
    v = Value(13, 513);
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_ERROR_INVALID_LENGTH);
    v = Value(13, 512, 9);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_SUCCESS);
    std::vector<std::uint8_t> last(600);
    ASSERT_EQ(LeSimLastWrittenValue(dev.id, 13, last.data(), 600), 512u);
    EXPECT_EQ(std::memcmp(last.data(), v.data, 512), 0);

    // A stored value stays; an echo gives back the writes in order, then queued values.
    ASSERT_EQ(LeSimQueueReadValue(dev.id, 3, "name", 4), LEAPI_SUCCESS);
    EXPECT_EQ(Read(3).size(), 4u);
    EXPECT_EQ(Read(3).size(), 4u);
    CharacteristicValue a = Value(6, 3, 1), b = Value(6, 500, 2);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &a), LEAPI_SUCCESS);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &b), LEAPI_SUCCESS);
    ASSERT_EQ(LeSimQueueReadValue(dev.id, 6, "dev", 3), LEAPI_SUCCESS);
    EXPECT_EQ(Read(6), std::vector<std::uint8_t>(a.data, a.data + 3));
    EXPECT_EQ(Read(6), std::vector<std::uint8_t>(b.data, b.data + 500));
    EXPECT_EQ(Read(6), (std::vector<std::uint8_t>{'d', 'e', 'v'}));
    EXPECT_TRUE(Read(6).empty());
}

TEST_F(LeSimGattTest, EchoNotifiesInFragmentsOnTheStacksThreadAsConfigured) {
    Recorder& notified = Another();
    Recorder& indicated = Another();
    auto cb = &Recorder::Callback;
    ASSERT_EQ(LEAPI_CharacteristicNotificationSubscribe(session, 6, cb, &notified), 0u);
    ASSERT_EQ(LEAPI_CharacteristicIndicationSubscribe(session, 6, cb, &indicated), 0u);
    CharacteristicValue v = Value(6, 500, 7);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_SUCCESS);  // not configured yet
    SetClientConfig(1);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_SUCCESS);
    LeSimFlushEvents();

    std::vector<Event> got = notified.Events();
    ASSERT_EQ(got.size(), 3u);
    const std::uint16_t sizes[] = {244, 244, 12};
    const std::uint8_t flags[] = {LEAPI_VALUE_FLAG_MORE, LEAPI_VALUE_FLAG_MORE, 0};
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < got.size(); ++i) {
        LeValueEventHeader h = got[i].Value();
        EXPECT_TRUE(h.session == session && h.handle == 6);
        EXPECT_TRUE(h.length == sizes[i] && h.flag == flags[i]) << "fragment " << i;
        EXPECT_NE(got[i].thread, std::this_thread::get_id());
        joined.insert(joined.end(), got[i].data.begin() + sizeof h, got[i].data.end());
    }
    EXPECT_EQ(joined, std::vector<std::uint8_t>(v.data, v.data + 500));
    EXPECT_TRUE(indicated.Events().empty());

    SetClientConfig(2);
    v = Value(6, 0);
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(session, &v), LEAPI_SUCCESS);
    LeSimFlushEvents();
    ASSERT_EQ(indicated.Events().size(), 1u);
    EXPECT_TRUE(indicated.Events()[0].Value().length == 0 &&
                indicated.Events()[0].Value().flag == 0);
    EXPECT_EQ(notified.Events().size(), 3u);

    ASSERT_EQ(LeSimDropSession(session), LEAPI_SUCCESS);  // subscriptions end with the session
    EXPECT_EQ(LeSimRaiseValueEvent(session, 6, 3, 0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace simtest
