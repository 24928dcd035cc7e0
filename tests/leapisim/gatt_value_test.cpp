// GATT discovery, subscriptions, descriptor writes, and long reads and writes.
#include "sim_test_util.h"

namespace simtest {
namespace {

using Ranges = std::vector<std::pair<int, int>>;

// The handles a discovery record names.
Ranges::value_type Handles(const LeServiceRecord& r) { return {F(r.firstHandle), F(r.lastHandle)}; }
Ranges::value_type Handles(const LeCharacteristicRecord& r) {
    return {F(r.valueHandle), F(r.lastHandle)};
}
Ranges::value_type Handles(const LeDescriptorRecord& r) { return {F(r.handle), F(r.handle)}; }

// Reads a whole discovery run and ends it (h and n by reference: the start
// call that sets them is an argument too).
template <class Record>
Ranges Drain(std::uint32_t start, const std::uint64_t& h, const std::uint16_t& n,
             std::uint32_t (*next)(std::uint64_t, Record*), std::uint32_t (*end)(std::uint64_t)) {
    EXPECT_EQ(start, LEAPI_SUCCESS);
    Ranges out;
    Record r{};
    std::uint32_t rc = 0;
    while ((rc = next(h, &r)) == LEAPI_SUCCESS) out.push_back(Handles(r));
    EXPECT_EQ(rc, LEAPI_ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(out.size(), n);
    EXPECT_EQ(end(h), LEAPI_SUCCESS);
    return out;
}

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
        LeUuid noisy = U16(0x2711), u;
        std::memset(noisy.value + 2, 0xFF, 14);
        const std::uint32_t id = dev.id;
        LeSimAddService(id, &(u = U16(0x1800)));
        LeSimAddCharacteristic(id, &(u = U16(0x2A00)), 0x02, LESIM_VALUE_STORE);
        LeSimAddService(id, &(u = U16(0x2711)));
        LeSimAddCharacteristic(id, &(u = DataCharacteristicUuid()), 0x3A, LESIM_VALUE_ECHO);
        LeSimAddDescriptor(id, &(u = U16(0x2901)));
        LeSimAddDescriptor(id, &(u = U16(0x2902)));
        LeSimAddService(id, &noisy);
        LeSimAddCharacteristic(id, &(u = DataCharacteristicUuid()), 0x28, LESIM_VALUE_STORE);
        LeSimAddCharacteristic(id, &(u = U16(0x2A01)), 0x08, LESIM_VALUE_STORE);
        LeSimAddDescriptor(id, &(u = U16(0x2902)));
        LeSimAddService(id, &(u = Wide()));
        session = Open(dev, &rec);
    }
    static LeUuid Wide() {
        LeUuid wide = U16(0x2711);
        wide.type = LEAPI_UUID_TYPE_128;
        return wide;
    }

    Ranges Services(LeUuid u) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        return Drain(LEAPI_ServicesDiscoveryStartByUUID(session, &u, &h, &n), h, n,
                     LEAPI_ServicesDiscoveryGetNext, LEAPI_ServicesDiscoveryEnd);
    }
    Ranges Characteristics(std::uint16_t first, std::uint16_t last) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        LeUuid u = DataCharacteristicUuid();
        return Drain(LEAPI_CharacteristicsDiscoveryStartByUUID(session, first, last, &u, &h, &n), h,
                     n, LEAPI_CharacteristicsDiscoveryGetNext, LEAPI_CharacteristicsDiscoveryEnd);
    }
    Ranges Descriptors(std::uint16_t valueHandle, std::uint16_t last) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        return Drain(
            LEAPI_CharacteristicDescriptorsDiscoveryStart(session, valueHandle, last, &h, &n), h, n,
            LEAPI_CharacteristicDescriptorsDiscoveryGetNext,
            LEAPI_CharacteristicDescriptorsDiscoveryEnd);
    }

    void SetClientConfig(std::uint8_t bits) {
        CharacteristicValue v = Value(8, 2);
        v.data[0] = bits;
        v.data[1] = 0;
        ASSERT_EQ(LEAPI_CharacteristicDescriptorWrite(session, &v), LEAPI_SUCCESS);
    }

    std::vector<std::uint8_t> Read(std::uint16_t valueHandle) {
        CharacteristicValue out{};
        out.handle = 0xBEEF;  // the caller's: a read writes length and data only
        EXPECT_EQ(LEAPI_CharacteristicReadLong(session, valueHandle, &out), LEAPI_SUCCESS);
        EXPECT_EQ(F(out.handle), 0xBEEF);
        return std::vector<std::uint8_t>(out.data, out.data + out.length);
    }

    TestDevice dev{};
    std::uint64_t session = 0;
};

TEST_F(LeSimGattTest, DiscoveryFindsByUuidWithinTheRanges) {
    // Services by the 16-bit rule; a 128-bit UUID compares all 16 bytes.
    EXPECT_EQ(Services(U16(0x2711)), (Ranges{{4, 8}, {9, 14}}));
    EXPECT_EQ(Services(Wide()), (Ranges{{15, 15}}));
    EXPECT_TRUE(Services(U16(0x180F)).empty());
    // Characteristics by their declaration, up to their last descriptor.
    EXPECT_EQ(Characteristics(1, 0xFFFF), (Ranges{{6, 8}, {11, 11}}));
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

TEST_F(LeSimGattTest, LongWritesAreStoredAndReadBackAndChecked) {
    SetClientConfig(3);
    EXPECT_EQ(LeSimDescriptorValue(dev.id, 8), 3);
    CharacteristicValue v = Value(14, 513), out{};
    EXPECT_EQ(LEAPI_CharacteristicDescriptorWrite(session, &v), LEAPI_ERROR_INVALID_LENGTH);
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
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < got.size(); ++i) {
        LeValueEventHeader h = got[i].Value();
        EXPECT_TRUE(h.session == session && h.handle == 6);
        EXPECT_TRUE(h.length == sizes[i] && h.flag == (i < 2 ? LEAPI_VALUE_FLAG_MORE : 0)) << i;
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
