// The library as a process first sees it: the default world, before any
// control call.
#include <string>

#include "sim_test_util.h"

namespace simtest {
namespace {

std::vector<LeDeviceRecord> DiscoverKnown() {
    std::uint64_t h = 0;
    EXPECT_EQ(LEAPI_DevicesDiscoveryStart(0, LEAPI_DISCOVERY_KNOWN, &h), LEAPI_SUCCESS);
    std::vector<LeDeviceRecord> found(1);
    while (LEAPI_DevicesDiscoveryGetNext(h, &found.back()) == LEAPI_SUCCESS) found.emplace_back();
    EXPECT_EQ(LEAPI_DevicesDiscoveryEnd(h), LEAPI_SUCCESS);
    found.pop_back();
    return found;
}

TEST(LeSimDefaultWorld, IsServedBeforeAnyControlCall) {
    ASSERT_EQ(LEAPI_Initialize(nullptr, nullptr, nullptr), LEAPI_SUCCESS);
    std::vector<LeDeviceRecord> found = DiscoverKnown();
    std::vector<std::string> names;
    for (const LeDeviceRecord& r : found) {
        std::string name;
        for (std::size_t i = 0; i < LEAPI_DEVICE_NAME_UNITS && r.name[i] != 0; ++i) {
            name += static_cast<char>(r.name[i]);
        }
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Pixel 8", "Galaxy Tab S9", "Galaxy Watch6", "",
                                               "Lobby Display", "iPad (far)"}));
    ASSERT_EQ(found.size(), 6u);
    EXPECT_TRUE(found[0].majorClass == 2 && found[0].minorClass == 12 && found[0].rssi == -58);
    EXPECT_TRUE(F(found[0].advertisingFlags) == 0 && F(found[0].deviceMode) == 1);
    EXPECT_EQ(found[4].connectable, 0);  // Lobby Display

    // The phone offers the data characteristic.
    Recorder rec;
    std::uint64_t s = 0, h = 0;
    std::uint16_t extra = 0, n = 0;
    ASSERT_EQ(LEAPI_GATTSessionEstablishEx(&found[0], &Recorder::Callback, &rec, 2, &s, &extra),
              LEAPI_SUCCESS);
    LeUuid chr = DataCharacteristicUuid();
    ASSERT_EQ(LEAPI_CharacteristicsDiscoveryStartByUUID(s, 1, 0xFFFF, &chr, &h, &n), 0u);
    LeCharacteristicRecord cr;
    ASSERT_EQ(LEAPI_CharacteristicsDiscoveryGetNext(h, &cr), LEAPI_SUCCESS);
    EXPECT_EQ(F(cr.properties), 0x3A);
    EXPECT_EQ(cr.lastHandle - cr.valueHandle, 2);  // user description, client configuration

    LeSimLoadDefaultWorld();  // adds nothing twice
    EXPECT_EQ(DiscoverKnown().size(), 6u);
    LeSimReset();
}

}  // namespace
}  // namespace simtest
