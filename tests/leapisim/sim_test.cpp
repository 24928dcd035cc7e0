// The simulated stack's own behaviour where no test of the module reaches
// it: refusals that change nothing, GATT discovery's matching rules and
// callbacks a lost link takes back.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <utility>

#include "testworld.h"

namespace {

using Ranges = std::vector<std::pair<int, int>>;

std::atomic<int> delivered{0};
std::shared_future<void> gate;  // the stack-wide callback waits on it when valid

void Count(std::uint32_t, const void*, void*) {
    if (gate.valid()) gate.wait();
    ++delivered;
}

// (Scripts in order, passing answers between failures, are what the fault
// tests rest on and check call by call.) Beyond the test device's services (1
// 0x1800, 4 0x2711 with its data characteristic 5/6 and descriptors 7 and 8):
// 9 a service 0x2711 with non-zero bytes 2..15 (still 0x2711 by the 16-bit
// rule), 10/11 data characteristic; 12 a 128-bit service whose first value
// bytes are those of 0x2711. A slow stack-wide callback keeps the dispatcher
// busy while a session's events wait behind it; losing the link takes them
// back, and its subscriptions.
TEST(LeSim, RefusalsChangeNothingDiscoveryFollowsTheUuidRulesAndALostLinkPurgesWhatWaits) {
    LeSimReset();
    ASSERT_EQ(LEAPI_Initialize(&Count, nullptr, nullptr), LEAPI_SUCCESS);
    const testworld::TestDevice phone = testworld::AddDevice();
    LeUuid u = testworld::Uuid16(0x2711), noisy = u, wide = u,
           data = testworld::DataCharacteristicUuid();
    std::memset(noisy.value + 2, 0xFF, 14);
    wide.type = LEAPI_UUID_TYPE_128;
    LeSimAddService(phone.id, &noisy);
    LeSimAddCharacteristic(phone.id, &data, 0x28, LESIM_VALUE_STORE);
    LeSimAddService(phone.id, &wide);
    const auto open = [&](std::uint32_t result) {  // a refusal leaves the outputs as they were
        std::uint64_t session = 77;
        std::uint16_t extra = 88;
        EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&phone.record, &Count, nullptr, 0, &session, &extra),
                  result);
        EXPECT_TRUE(result == LEAPI_SUCCESS || extra == 88);
        return session;
    };
    const std::uint64_t s = open(LEAPI_SUCCESS);
    std::uint64_t h = 0;
    std::uint16_t n = 0;
    const auto services = [&](LeUuid want) {
        Ranges out;
        EXPECT_EQ(LEAPI_ServicesDiscoveryStartByUUID(s, &want, &h, &n), 0u);
        for (LeServiceRecord r{}; LEAPI_ServicesDiscoveryGetNext(h, &r) == 0;)
            out.emplace_back(int{r.firstHandle}, int{r.lastHandle});
        EXPECT_EQ(out.size(), n);
        LEAPI_ServicesDiscoveryEnd(h);
        return out;
    };
    const auto characteristics = [&](std::uint16_t first, std::uint16_t last) {
        Ranges out;
        EXPECT_EQ(LEAPI_CharacteristicsDiscoveryStartByUUID(s, first, last, &data, &h, &n), 0u);
        for (LeCharacteristicRecord r{}; LEAPI_CharacteristicsDiscoveryGetNext(h, &r) == 0;)
            out.emplace_back(int{r.valueHandle}, int{r.lastHandle});
        LEAPI_CharacteristicsDiscoveryEnd(h);
        return out;
    };
    EXPECT_EQ(services(u), (Ranges{{4, 8}, {9, 11}}));
    EXPECT_EQ(services(wide), (Ranges{{12, 12}}));  // a 128-bit UUID compares all 16 bytes
    EXPECT_EQ(characteristics(1, 0xFFFF), (Ranges{{6, 8}, {11, 11}}));
    EXPECT_TRUE(characteristics(6, 9).empty());  // its declaration is 5

    EXPECT_EQ(LeSimScript("LEAPI_NoSuchCall", 1, 1), LEAPI_ERROR_INVALID_PARAMETER);
    LeSimScript("LEAPI_CharacteristicWriteLong", 0xEAEA0099u, 1);
    CharacteristicValue v{phone.valueHandle, 4, {1, 2, 3, 4}};
    EXPECT_EQ(LEAPI_CharacteristicWriteLong(s, &v), 0xEAEA0099u);
    EXPECT_EQ(LeSimLastWrittenValue(phone.id, phone.valueHandle, nullptr, 0), 0u);
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_INVALID_SESSION_HANDLE, 1);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    EXPECT_EQ(LeSimSessionOf(phone.id), s);
    EXPECT_EQ(open(LEAPI_ERROR_SESSION_EXISTS), 77u);
    EXPECT_EQ(LeSimSessionCount(), 1u);
    EXPECT_EQ(LEAPI_GATTSessionClose(s), LEAPI_SUCCESS);
    const std::uint64_t t = open(LEAPI_SUCCESS);
    EXPECT_NE(t, s);  // a closed handle is never given out again
    ASSERT_EQ(LEAPI_CharacteristicNotificationSubscribe(t, phone.valueHandle, &Count, nullptr), 0u);
    LeSimFlushEvents();
    const int before = delivered;
    std::promise<void> gateOpen;
    gate = gateOpen.get_future().share();
    LeSimRaiseStackEvent(1, nullptr, 0);
    ASSERT_EQ(LeSimRaiseValueEvent(t, phone.valueHandle, 1, 0, "late", 4), 1u);
    ASSERT_EQ(LeSimDropSession(t), LEAPI_SUCCESS);  // its disconnection waits too
    EXPECT_EQ(LEAPI_GATTSessionClose(t), LEAPI_ERROR_INVALID_SESSION_HANDLE);
    gateOpen.set_value();
    LeSimFlushEvents();
    EXPECT_EQ(delivered, before + 1);  // the stack event only
    EXPECT_EQ(LeSimRaiseValueEvent(t, phone.valueHandle, 3, 0, nullptr, 0), 0u);
}

}  // namespace
