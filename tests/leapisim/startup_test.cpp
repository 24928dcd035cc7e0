// The library as a process first sees it: the default world, before any
// control call.
#include <gtest/gtest.h>
#include <leapisim/leapisim.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> KnownNames() {
    std::uint64_t h = 0;
    EXPECT_EQ(LEAPI_DevicesDiscoveryStart(0, LEAPI_DISCOVERY_KNOWN, &h), LEAPI_SUCCESS);
    std::vector<std::string> names;
    LeDeviceRecord r;
    while (LEAPI_DevicesDiscoveryGetNext(h, &r) == LEAPI_SUCCESS) {
        names.emplace_back();
        for (std::size_t i = 0; i < LEAPI_DEVICE_NAME_UNITS && r.name[i] != 0; ++i) {
            names.back() += static_cast<char>(r.name[i]);
        }
    }
    EXPECT_EQ(LEAPI_DevicesDiscoveryEnd(h), LEAPI_SUCCESS);
    return names;
}

TEST(LeSimDefaultWorld, IsServedBeforeAnyControlCallAndLoadedOnce) {
    ASSERT_EQ(LEAPI_Initialize(nullptr, nullptr, nullptr), LEAPI_SUCCESS);
    const std::vector<std::string> names = {"Pixel 8", "Galaxy Tab S9", "Galaxy Watch6",
                                            "",        "Lobby Display", "iPad (far)"};
    EXPECT_EQ(KnownNames(), names);
    LeSimLoadDefaultWorld();  // adds nothing twice
    EXPECT_EQ(KnownNames(), names);
    LeSimReset();
}

}  // namespace
