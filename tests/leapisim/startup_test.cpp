// The library as a process first sees it: the default world, before any
// control call.
#include <set>
#include <string>

#include "sim_test_util.h"

namespace simtest {
namespace {

std::string Name(const LeDeviceRecord& r) {
    std::string s;
    for (std::size_t i = 0; i < LEAPI_DEVICE_NAME_UNITS && r.name[i] != 0; ++i) {
        s += static_cast<char>(r.name[i]);
    }
    return s;
}

std::vector<LeDeviceRecord> DiscoverKnown() {
    std::uint64_t h = 0;
    EXPECT_EQ(LEAPI_DevicesDiscoveryStart(0, LEAPI_DISCOVERY_KNOWN, &h), LEAPI_SUCCESS);
    std::vector<LeDeviceRecord> found;
    LeDeviceRecord r;
    while (LEAPI_DevicesDiscoveryGetNext(h, &r) == LEAPI_SUCCESS) found.push_back(r);
    EXPECT_EQ(LEAPI_DevicesDiscoveryEnd(h), LEAPI_SUCCESS);
    return found;
}

TEST(LeSimDefaultWorld, IsServedBeforeAnyControlCall) {
    ASSERT_EQ(LEAPI_Initialize(nullptr, nullptr, nullptr), LEAPI_SUCCESS);
    std::vector<LeDeviceRecord> found = DiscoverKnown();
    ASSERT_EQ(found.size(), 6u);
    std::set<std::string> names;
    for (const LeDeviceRecord& r : found) names.insert(Name(r));
    EXPECT_EQ(names, (std::set<std::string>{"Pixel 8", "Galaxy Tab S9", "Galaxy Watch6", "",
                                            "Lobby Display", "iPad (far)"}));
    const LeDeviceRecord& phone = found[0];
    EXPECT_EQ(Name(phone), "Pixel 8");
    EXPECT_EQ(F(phone.majorClass), 2);
    EXPECT_EQ(F(phone.minorClass), 12);
    EXPECT_EQ(F(phone.rssi), -58);
    EXPECT_EQ(F(phone.advertisingFlags), 0u);
    EXPECT_EQ(F(phone.deviceMode), 1u);
    EXPECT_NE(F(phone.connectable), 0);
    EXPECT_EQ(Name(found[4]), "Lobby Display");
    EXPECT_EQ(F(found[4].connectable), 0);

    // The phone offers the data service with the echo characteristic.
    Recorder rec;
    std::uint64_t s = 0;
    std::uint16_t extra = 0, n = 0;
    ASSERT_EQ(LEAPI_GATTSessionEstablishEx(&phone, &Recorder::Callback, &rec, 2, &s, &extra),
              LEAPI_SUCCESS);
    LeUuid svc = U16(0x2711), chr = DataCharacteristicUuid();
    std::uint64_t h = 0;
    ASSERT_EQ(LEAPI_ServicesDiscoveryStartByUUID(s, &svc, &h, &n), LEAPI_SUCCESS);
    ASSERT_EQ(n, 1);
    LeServiceRecord sr;
    ASSERT_EQ(LEAPI_ServicesDiscoveryGetNext(h, &sr), LEAPI_SUCCESS);
    ASSERT_EQ(
        LEAPI_CharacteristicsDiscoveryStartByUUID(s, sr.firstHandle, sr.lastHandle, &chr, &h, &n),
        LEAPI_SUCCESS);
    ASSERT_EQ(n, 1);
    LeCharacteristicRecord cr;
    ASSERT_EQ(LEAPI_CharacteristicsDiscoveryGetNext(h, &cr), LEAPI_SUCCESS);
    EXPECT_EQ(F(cr.properties),
              LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE);
    ASSERT_EQ(
        LEAPI_CharacteristicDescriptorsDiscoveryStart(s, cr.valueHandle, cr.lastHandle, &h, &n),
        LEAPI_SUCCESS);
    EXPECT_EQ(n, 2);
    CharacteristicValue v = Value(cr.valueHandle, 3, 1), out{};
    ASSERT_EQ(LEAPI_CharacteristicWriteLong(s, &v), LEAPI_SUCCESS);
    ASSERT_EQ(LEAPI_CharacteristicReadLong(s, cr.valueHandle, &out), LEAPI_SUCCESS);
    EXPECT_EQ(F(out.length), 3);

    // Loading the default world again adds nothing twice.
    LeSimLoadDefaultWorld();
    EXPECT_EQ(DiscoverKnown().size(), 6u);
    LeSimReset();
}

}  // namespace
}  // namespace simtest
