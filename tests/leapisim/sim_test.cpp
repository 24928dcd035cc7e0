// The simulated stack's own behaviour where no test of the module reaches
// it: scripted answers, GATT discovery's matching rules, callbacks a close
// takes back, and refusals that change nothing.
#include <gtest/gtest.h>
#include <leapisim/leapisim.h>

#include <atomic>
#include <cstring>
#include <future>
#include <utility>
#include <vector>

#include "testworld.h"

namespace {

using testworld::Uuid16;
using Ranges = std::vector<std::pair<int, int>>;

std::atomic<int> delivered{0};
std::shared_future<void> gate;  // the stack-wide callback waits on it when valid

void Count(std::uint32_t, const void*, void*) {
    if (gate.valid()) gate.wait();
    ++delivered;
}

class LeSim : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        delivered = 0;
        gate = {};
        ASSERT_EQ(LEAPI_Initialize(&Count, nullptr, nullptr), LEAPI_SUCCESS);
        const std::uint8_t address[6] = {0x10, 0x20, 0x30, 0x40, 0x50, 1};
        LeSimMakeDeviceRecord(&record, address, "Phone", 2, 12, -60, 1);
        id = LeSimAddDevice(&record, testworld::kAllPasses);
    }
    void TearDown() override { LeSimReset(); }

    std::uint64_t Open() {
        std::uint64_t session = 0;
        std::uint16_t extra = 0;
        EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&record, &Count, nullptr, 0, &session, &extra), 0u);
        return session;
    }

    LeDeviceRecord record{};
    std::uint32_t id = 0;
};

TEST_F(LeSim, ScriptedAnswersComeInOrderWithoutSideEffects) {
    LeUuid u = Uuid16(0x2711);
    LeSimAddService(id, &u);
    const std::uint16_t vh = LeSimAddCharacteristic(id, &u, LEAPI_PROP_WRITE, LESIM_VALUE_STORE);
    const std::uint64_t s = Open();
    const char* fn = "LEAPI_GATTSessionRSSIGet";
    ASSERT_EQ(LeSimScript(fn, LEAPI_ERROR_AGAIN, 2), LEAPI_SUCCESS);
    ASSERT_EQ(LeSimScript(fn, 0, 1), LEAPI_SUCCESS);  // one real answer between
    ASSERT_EQ(LeSimScript(fn, LEAPI_ERROR_BUSY, 1), LEAPI_SUCCESS);
    EXPECT_EQ(LeSimScript("LEAPI_NoSuchCall", 1, 1), LEAPI_ERROR_INVALID_PARAMETER);
    std::vector<std::pair<std::uint32_t, std::int16_t>> answers;
    for (int i = 0; i < 5; ++i) {
        std::int16_t rssi = 5;
        answers.emplace_back(LEAPI_GATTSessionRSSIGet(s, &rssi), rssi);
    }
    EXPECT_EQ(answers, (std::vector<std::pair<std::uint32_t, std::int16_t>>{{LEAPI_ERROR_AGAIN, 5},
                                                                            {LEAPI_ERROR_AGAIN, 5},
                                                                            {0, -60},
                                                                            {LEAPI_ERROR_BUSY, 5},
                                                                            {0, -60}}));
    LeSimScript("LEAPI_CharacteristicWriteLong", 0xEAEA0099u, 1);
    CharacteristicValue v{vh, 4, {1, 2, 3, 4}};
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(s, &v), 0xEAEA0099u);
    EXPECT_EQ(LeSimLastWrittenValue(id, vh, nullptr, 0), 0u);
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_INVALID_SESSION_HANDLE, 1);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LeSimSessionOf(id), s);
    // Refusals leave the outputs and the sessions as they were.
    std::uint64_t again = 77;
    std::uint16_t extra = 88;
    EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&record, &Count, nullptr, 0, &again, &extra),
              LEAPI_ERROR_SESSION_EXISTS);
    EXPECT_TRUE(again == 77 && extra == 88 && LeSimSessionCount() == 1);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_SUCCESS);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_NE(Open(), s);  // a closed handle is never given out again
}

// Handles given out in this order: 1 service 0x2711, 2/3 data characteristic,
// 4 and 5 descriptors; 6 service 0x2711 with non-zero bytes 2..15 (still
// 0x2711 by the 16-bit rule), 7/8 data characteristic; 9 a 128-bit service
// whose first value bytes are those of 0x2711.
TEST_F(LeSim, GattDiscoveryMatchesByTheUuidRulesWithinTheRanges) {
    LeUuid u = Uuid16(0x2711), noisy = u, wide = u, data = testworld::DataCharacteristicUuid();
    std::memset(noisy.value + 2, 0xFF, 14);
    wide.type = LEAPI_UUID_TYPE_128;
    LeSimAddService(id, &u);
    LeSimAddCharacteristic(id, &data, 0x3A, LESIM_VALUE_ECHO);
    LeUuid d1 = Uuid16(0x2901), d2 = Uuid16(0x2902);
    LeSimAddDescriptor(id, &d1);
    LeSimAddDescriptor(id, &d2);
    LeSimAddService(id, &noisy);
    LeSimAddCharacteristic(id, &data, 0x28, LESIM_VALUE_STORE);
    LeSimAddService(id, &wide);
    const std::uint64_t s = Open();
    auto services = [&](LeUuid want) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        Ranges out;
        EXPECT_EQ(LEAPI_ServicesDiscoveryStartByUUID(s, &want, &h, &n), 0u);
        LeServiceRecord r{};
        while (LEAPI_ServicesDiscoveryGetNext(h, &r) == 0)
            out.emplace_back(int{r.firstHandle}, int{r.lastHandle});
        EXPECT_EQ(out.size(), n);
        LEAPI_ServicesDiscoveryEnd(h);
        return out;
    };
    auto characteristics = [&](std::uint16_t first, std::uint16_t last) {
        std::uint64_t h = 0;
        std::uint16_t n = 0;
        Ranges out;
        EXPECT_EQ(LEAPI_CharacteristicsDiscoveryStartByUUID(s, first, last, &data, &h, &n), 0u);
        LeCharacteristicRecord r{};
        while (LEAPI_CharacteristicsDiscoveryGetNext(h, &r) == 0) {
            out.emplace_back(int{r.valueHandle}, int{r.lastHandle});
        }
        LEAPI_CharacteristicsDiscoveryEnd(h);
        return out;
    };
    EXPECT_EQ(services(u), (Ranges{{1, 5}, {6, 8}}));
    EXPECT_EQ(services(wide), (Ranges{{9, 9}}));  // a 128-bit UUID compares all 16 bytes
    EXPECT_TRUE(services(Uuid16(0x180F)).empty());
    EXPECT_EQ(characteristics(1, 0xFFFF), (Ranges{{3, 5}, {8, 8}}));
    EXPECT_TRUE(characteristics(3, 6).empty());  // its declaration is 2
    std::uint64_t h = 0;
    std::uint16_t n = 0;
    EXPECT_EQ(LEAPI_CharacteristicDescriptorsDiscoveryStart(s, 3, 5, &h, &n), 0u);
    EXPECT_EQ(n, 2u);
    LEAPI_CharacteristicDescriptorsDiscoveryEnd(h);
    EXPECT_EQ(LEAPI_CharacteristicDescriptorsDiscoveryStart(s, 4, 5, &h, &n),
              LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE);
}

// A slow stack-wide callback keeps the dispatcher busy while the session's
// events wait behind it; closing the session takes them back.
TEST_F(LeSim, ClosePurgesCallbacksNotYetDelivered) {
    LeUuid u = Uuid16(0x2711);
    LeSimAddService(id, &u);
    const std::uint16_t vh = LeSimAddCharacteristic(id, &u, LEAPI_PROP_NOTIFY, LESIM_VALUE_STORE);
    const std::uint64_t s = Open();
    ASSERT_EQ(LEAPI_CharacteristicNotificationSubscribe(s, vh, &Count, nullptr), 0u);
    LeSimFlushEvents();
    const int before = delivered;
    std::promise<void> open;
    gate = open.get_future().share();
    LeSimRaiseStackEvent(1, nullptr, 0);
    ASSERT_EQ(LeSimRaiseValueEvent(s, vh, 1, 0, "late", 4), 1u);
    ASSERT_EQ(LeSimDropSession(s), LEAPI_SUCCESS);  // the link is lost: a disconnection waits too
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    open.set_value();
    LeSimFlushEvents();
    EXPECT_EQ(delivered, before + 1);                              // the stack event only
    EXPECT_EQ(LeSimRaiseValueEvent(s, vh, 3, 0, nullptr, 0), 0u);  // subscriptions end with it
}

}  // namespace
