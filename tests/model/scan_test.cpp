// Scan: the two discovery passes, their filters, the entries and the registry.
#include <algorithm>
#include <chrono>
#include <cwctype>
#include <iterator>

#include "blegattwrapper/noxbleprovider.h"
#include "modeltest.h"

namespace {

using namespace modeltest;
using Clock = std::chrono::steady_clock;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class Scan : public ModelTest {
  protected:
    static TestDevice Add(std::uint8_t last, const std::string& name, std::uint8_t major = 2,
                          std::uint8_t minor = 12, std::int8_t rssi = -60,
                          std::uint8_t passes = kAllPasses) {
        DeviceSpec spec;
        spec.lastAddressByte = last;
        spec.name = name;
        spec.majorClass = major;
        spec.minorClass = minor;
        spec.rssi = rssi;
        spec.discoveryFlags = passes;
        return AddDevice(spec);
    }
};

TEST_F(Scan, TheSecondPassLastsTheLowByteOfTheWholeSeconds) {
    const TestDevice phone = Add(1, "Phone");
    NoxBleProvider provider(nullptr, nullptr);
    const struct {
        std::int64_t ms;
        unsigned seconds;  // of the second pass, 0: none
    } cases[] = {{0, 0},    {999, 0},    {-999, 0},    {1000, 1},   {5000, 5},
                 {5999, 5}, {256000, 0}, {300000, 44}, {-1000, 255}};
    for (const auto& c : cases) {
        LeSimJournalClear();
        const std::vector<BleDeviceEntry> entries = provider.Scan(c.ms);
        const std::vector<LeSimCall> starts = JournalOf("LEAPI_DevicesDiscoveryStart");
        ASSERT_EQ(starts.size(), c.seconds != 0 ? 2u : 1u) << c.ms;
        EXPECT_EQ(starts[0].args[0], 1u);
        EXPECT_EQ(starts[0].args[1], 2u);
        ASSERT_EQ(entries.size(), starts.size()) << c.ms;
        EXPECT_TRUE(entries[0].firstPass);
        if (c.seconds != 0) {
            EXPECT_EQ(starts[1].args[0], c.seconds) << c.ms;
            EXPECT_EQ(starts[1].args[1], 1u);
            // Seen by both passes: listed twice.
            EXPECT_FALSE(entries[1].firstPass);
            EXPECT_EQ(entries[1].address, entries[0].address);
        }
        EXPECT_EQ(entries[0].name, L"Phone");
        EXPECT_EQ(entries[0].address, phone.Address());
    }
    if (Trace::Available()) {
        const Names messages = trace.MessagesOf("NoxBleProvider::Scan");
        EXPECT_EQ(messages.back(),
                  "scan for ble devices using StackApi()->DevicesDiscovery . miliseconds "
                  "count:-1000");
    }
}

TEST_F(Scan, TheClassFilterAppliesToBothPassesAndTheSignalFilterToTheSecond) {
    const struct {
        const char* name;
        std::uint8_t major, minor;
        std::int8_t rssi;
        bool first, second;
    } cases[] = {
        {"wearable", 1, 24, -60, false, false}, {"phone8", 2, 8, -60, false, false},
        {"imaging", 6, 4, -60, false, false},   {"major5", 5, 0, -60, true, true},
        {"misc", 0, 99, -60, true, true},       {"handheld", 1, 16, -60, true, true},
        {"palm", 1, 20, -60, true, true},       {"tablet", 1, 28, -60, true, true},
        {"cellular", 2, 4, -60, true, true},    {"smart", 2, 12, -60, true, true},
        {"weak", 2, 12, -91, true, false},      {"edge", 2, 12, -90, true, true},
        {"weakest", 0, 0, -128, true, false},
    };
    std::vector<std::pair<std::wstring, bool>> expected;
    std::vector<std::wstring> addresses;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : cases) {
            if (pass == 0 ? c.first : c.second) expected.emplace_back(Wide(c.name), pass == 0);
        }
    }
    std::uint8_t last = 0;
    for (const auto& c : cases) {
        addresses.push_back(Add(++last, c.name, c.major, c.minor, c.rssi).Address());
    }
    NoxBleProvider provider(nullptr, nullptr);
    const std::vector<BleDeviceEntry> entries = provider.Scan(1000);
    std::vector<std::pair<std::wstring, bool>> got;
    for (const BleDeviceEntry& entry : entries) {
        got.emplace_back(entry.name, entry.firstPass);
        EXPECT_TRUE(entry.connectable);
        const std::size_t i =
            std::find_if(std::begin(cases), std::end(cases),
                         [&](const auto& c) { return Wide(c.name) == entry.name; }) -
            std::begin(cases);
        ASSERT_LT(i, addresses.size());
        EXPECT_EQ(entry.address, addresses[i]);
    }
    EXPECT_EQ(got, expected);
}

TEST_F(Scan, OnlyNamedConnectableFirstPassDevicesCanBeFound) {
    const struct {
        std::uint32_t advertisingFlags, deviceMode;
        std::uint8_t byte525;
        bool connectable;
    } cases[] = {
        {0, 1, 1, true},  {2, 1, 1, true},     {2, 1, 0xFF, true},        {1, 1, 1, false},
        {3, 1, 1, false}, {0x10, 1, 1, false}, {0x80000000, 1, 1, false}, {0, 0, 1, false},
        {0, 2, 1, false}, {0, 1, 0, false},
    };
    std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0};
    LeDeviceRecord record{};
    for (const auto& c : cases) {
        ++address[5];
        LeSimMakeDeviceRecord(&record, address, "dev", 2, 12, -50, 1);
        record.advertisingFlags = c.advertisingFlags;
        record.deviceMode = c.deviceMode;
        record.connectable = c.byte525;
        LeSimAddDevice(&record, LEAPI_DISCOVERY_KNOWN);
    }
    // A name that fills its 249 units has no terminator.
    ++address[5];
    LeSimMakeDeviceRecord(&record, address, "", 2, 12, -50, 1);
    std::fill(std::begin(record.name), std::end(record.name), std::uint16_t{'n'});
    LeSimAddDevice(&record, LEAPI_DISCOVERY_KNOWN);
    const TestDevice unnamed = Add(0x41, "", 2, 12, -50, LEAPI_DISCOVERY_KNOWN);
    const TestDevice late = Add(0x42, "late", 2, 12, -50, LEAPI_DISCOVERY_LIVE);

    NoxBleProvider provider(nullptr, nullptr);
    const std::vector<BleDeviceEntry> entries = provider.Scan(1000);
    const std::size_t n = std::size(cases);
    ASSERT_EQ(entries.size(), n + 2);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(entries[i].connectable, cases[i].connectable) << i;
        const std::shared_ptr<BleDevice> found = provider.FindBleDevice(entries[i]);
        EXPECT_EQ(found != nullptr, cases[i].connectable) << i;
        if (found) {
            EXPECT_EQ(found->deviceInfo.address[5], i + 1);
        }
    }
    EXPECT_EQ(entries[n].name, std::wstring(249, L'n'));
    EXPECT_TRUE(provider.FindBleDevice(entries[n]));
    EXPECT_EQ(entries[n + 1].name, L"late");
    EXPECT_FALSE(entries[n + 1].firstPass);
    EXPECT_TRUE(entries[n + 1].connectable);
    EXPECT_FALSE(provider.FindBleDevice(entries[n + 1]));
    EXPECT_FALSE(provider.FindBleDevice({L"", unnamed.Address(), true, true}));

    BleDeviceEntry upper = entries[0];
    std::transform(upper.address.begin(), upper.address.end(), upper.address.begin(),
                   [](wchar_t ch) { return static_cast<wchar_t>(std::towupper(ch)); });
    ASSERT_NE(upper.address, entries[0].address);
    EXPECT_FALSE(provider.FindBleDevice(upper));
}

TEST_F(Scan, ABusyRadioIsAskedAgainForAboutSixSeconds) {
    Add(1, "Phone");
    NoxBleProvider provider(nullptr, nullptr);
    LeSimJournalClear();
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 1000);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(provider.Scan(0).empty());
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(5));
    EXPECT_LE(elapsed, std::chrono::seconds(12));
    const std::size_t starts = JournalOf("LEAPI_DevicesDiscoveryStart").size();
    EXPECT_GE(starts, 40u);
    EXPECT_LE(starts, 70u);
    EXPECT_EQ(JournalNames(), Names(starts, "LEAPI_DevicesDiscoveryStart"));
}

TEST_F(Scan, AStartThatSucceedsLateStillFindsAndOneThatFailsIsNotRetried) {
    const TestDevice phone = Add(1, "Phone");
    NoxBleProvider provider(nullptr, nullptr);
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 3);
    std::vector<BleDeviceEntry> entries = provider.Scan(0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].address, phone.Address());
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 4u);

    LeSimJournalClear();
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_NOT_INITIALIZED, 1);
    entries = provider.Scan(1000);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].firstPass);
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 2u);
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryEnd").size(), 1u);
}

TEST_F(Scan, AFailingDiscoveryEndThrowsAndKeepsOnlyFinishedPasses) {
    Add(1, "Phone");
    NoxBleProvider provider(nullptr, nullptr);
    const std::vector<BleDeviceEntry> entries = provider.Scan(0);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(provider.FindBleDevice(entries[0]));

    // In the first pass: the registry stays empty and no second pass runs.
    Forget();
    LeSimScript("LEAPI_DevicesDiscoveryEnd", LEAPI_ERROR_INVALID_DISCOVERY_HANDLE, 1);
    EXPECT_EQ(ThrownCode([&] { provider.Scan(1000); }),
              static_cast<int>(LEAPI_ERROR_INVALID_DISCOVERY_HANDLE));
    EXPECT_FALSE(provider.FindBleDevice(entries[0]));
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 1u);
    if (Trace::Available()) {
        EXPECT_EQ(
            trace.MessagesOf("CheckLeapiReturnCode"),
            Names{CheckRecord(LEAPI_ERROR_INVALID_DISCOVERY_HANDLE, "LEAPI_DevicesDiscoveryEnd")});
    }

    // In the second pass: the first pass's devices stay.
    LeSimScript("LEAPI_DevicesDiscoveryEnd", 0, 1);
    LeSimScript("LEAPI_DevicesDiscoveryEnd", LEAPI_ERROR_INVALID_DISCOVERY_HANDLE, 1);
    EXPECT_NE(ThrownCode([&] { provider.Scan(1000); }), 0);
    EXPECT_TRUE(provider.FindBleDevice(entries[0]));
}

}  // namespace
