// Scan: the two discovery passes, their filters, the entries and the registry.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwctype>
#include <iterator>
#include <thread>

#include "fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

TestDevice Add(std::uint8_t last, const std::string& name, std::uint8_t major = 2,
               std::uint8_t minor = 12, std::int8_t rssi = -60, std::uint8_t passes = kAllPasses) {
    DeviceSpec spec;
    spec.lastAddressByte = last;
    spec.name = name;
    spec.majorClass = major;
    spec.minorClass = minor;
    spec.rssi = rssi;
    spec.discoveryFlags = passes;
    return AddDevice(spec);
}

class Scan : public WorldTest {};

TEST_F(Scan, TheSecondPassLastsTheLowByteOfTheWholeSeconds) {
    const std::pair<std::int64_t, unsigned> cases[] = {
        // duration, second pass (0: none)
        {0, 0}, {999, 0}, {-999, 0}, {1000, 1}, {5999, 5}, {256000, 0}, {300000, 44}, {-1000, 255}};
    for (const auto& [ms, seconds] : cases) {
        SCOPED_TRACE(ms);
        LeSimJournalClear();
        const std::vector<BleDeviceEntry> entries = provider->Scan(ms);
        const std::vector<LeSimCall> starts = JournalOf("LEAPI_DevicesDiscoveryStart");
        ASSERT_EQ(starts.size(), seconds != 0 ? 2u : 1u);
        EXPECT_TRUE(starts[0].args[0] == 1 && starts[0].args[1] == 2);
        ASSERT_EQ(entries.size(), starts.size());  // seen by both passes: listed twice
        EXPECT_TRUE(entries[0].firstPass && entries[0].name == L"Phone");
        EXPECT_EQ(entries[0].address, phone.Address());
        if (seconds == 0) continue;
        EXPECT_TRUE(starts[1].args[0] == seconds && starts[1].args[1] == 1);
        EXPECT_FALSE(entries[1].firstPass);
        EXPECT_EQ(entries[1].address, phone.Address());
    }
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of({"NoxBleProvider::Scan"}).back(),
                  "I BLE_STRING NoxBleProvider::Scan: scan for ble devices using "
                  "StackApi()->DevicesDiscovery . miliseconds count:-1000");
    }
}

TEST_F(Scan, TheClassFilterAppliesToBothPassesAndTheSignalFilterToTheSecond) {
    const struct {
        std::uint8_t major, minor;
        std::int8_t rssi;
        bool first, second;
    } cases[] = {{1, 24, -60, false, false}, {2, 8, -60, false, false}, {6, 4, -60, false, false},
                 {5, 0, -60, true, true},    {0, 99, -60, true, true},  {1, 16, -60, true, true},
                 {1, 20, -60, true, true},   {1, 28, -60, true, true},  {2, 4, -60, true, true},
                 {2, 12, -91, true, false},  {2, 12, -90, true, true},  {0, 0, -128, true, false}};
    std::vector<std::pair<std::wstring, bool>> expected, second, got;
    std::uint8_t last = 0;
    LeSimRemoveDevice(phone.id);
    for (const auto& c : cases) {
        const TestDevice test = Add(++last, "d", c.major, c.minor, c.rssi);
        if (c.first) expected.emplace_back(test.Address(), true);
        if (c.second) second.emplace_back(test.Address(), false);
    }
    expected.insert(expected.end(), second.begin(), second.end());
    for (const BleDeviceEntry& entry : provider->Scan(1000)) {
        got.emplace_back(entry.address, entry.firstPass);
    }
    EXPECT_EQ(got, expected);
}

TEST_F(Scan, OnlyNamedConnectableFirstPassDevicesCanBeFound) {
    const struct {
        std::uint32_t advertisingFlags, deviceMode;
        std::uint8_t byte525;
        bool connectable;
    } cases[] = {{0, 1, 1, true},  {2, 1, 1, true},  {2, 1, 0xFF, true},
                 {1, 1, 1, false}, {3, 1, 1, false}, {0x80000000, 1, 1, false},
                 {0, 0, 1, false}, {0, 2, 1, false}, {0, 1, 0, false}};
    std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0};
    LeDeviceRecord record{};
    LeSimRemoveDevice(phone.id);
    for (const auto& c : cases) {
        ++address[5];
        LeSimMakeDeviceRecord(&record, address, "dev", 2, 12, -50, 1);
        record.advertisingFlags = c.advertisingFlags;
        record.deviceMode = c.deviceMode;
        record.connectable = c.byte525;
        LeSimAddDevice(&record, LEAPI_DISCOVERY_KNOWN);
    }
    std::fill(std::begin(record.name), std::end(record.name), std::uint16_t{'n'});  // no NUL
    record.connectable = 1;
    record.address[5] = ++address[5];
    LeSimAddDevice(&record, LEAPI_DISCOVERY_KNOWN);
    const TestDevice unnamed = Add(0x41, "", 2, 12, -50, LEAPI_DISCOVERY_KNOWN);
    Add(0x42, "late", 2, 12, -50, LEAPI_DISCOVERY_LIVE);

    const std::vector<BleDeviceEntry> entries = provider->Scan(1000);
    const std::size_t n = std::size(cases);
    ASSERT_EQ(entries.size(), n + 2);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(entries[i].connectable, cases[i].connectable) << i;
        const std::shared_ptr<BleDevice> found = provider->FindBleDevice(entries[i]);
        EXPECT_EQ(found ? found->deviceInfo.address[5] : 0u, cases[i].connectable ? i + 1 : 0u);
    }
    EXPECT_EQ(entries[n].name, std::wstring(249, L'n'));
    EXPECT_TRUE(provider->FindBleDevice(entries[n]));
    EXPECT_TRUE(entries[n + 1].name == L"late" && entries[n + 1].connectable);
    EXPECT_FALSE(entries[n + 1].firstPass);
    trace.Clear();
    EXPECT_FALSE(provider->FindBleDevice(entries[n + 1]));
    ExpectRecords(
        {"I BLE_STRING NoxBleProvider::FindBleDevice: find BLE decvice late in devices "
         "list by address"});
    EXPECT_FALSE(provider->FindBleDevice({L"", unnamed.Address(), true, true}));
    BleDeviceEntry upper = entries[0];
    for (wchar_t& ch : upper.address) ch = static_cast<wchar_t>(std::towupper(ch));
    EXPECT_FALSE(provider->FindBleDevice(upper));
}

// Scan takes no operation lock: looking a device up races a new scan's
// registry (the thread sanitizer's case).
TEST_F(Scan, LookUpsOnAnotherThreadRaceRescansSafely) {
    provider->Scan(0);
    std::atomic<bool> stop{false};
    std::thread looker([&] {
        while (!stop) provider->FindBleDevice(EntryOf(phone));
    });
    for (int i = 0; i < 20; ++i) provider->Scan(0);
    stop = true;
    looker.join();
    EXPECT_TRUE(provider->FindBleDevice(EntryOf(phone)));
}

TEST_F(Scan, ABusyRadioIsAskedAgainForAboutSixSeconds) {
    LeSimJournalClear();
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 1000);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(provider->Scan(0).empty());
    EXPECT_GE(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_LE(Clock::now() - start, std::chrono::seconds(12));
    const std::size_t starts = LeSimJournalCount();
    EXPECT_TRUE(starts >= 40 && starts <= 70) << starts;
    EXPECT_EQ(JournalNames(), Lines(starts, "LEAPI_DevicesDiscoveryStart"));
}

// A busy start is asked again; any other failed start ends its pass; a
// failed end throws and keeps only the passes that finished.
TEST_F(Scan, FailedStartsAndEndsKeepOnlyWhatFinished) {
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 3);
    const BleDeviceEntry entry = provider->Scan(0).at(0);
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 4u);
    Settle();
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_NOT_INITIALIZED, 1);
    const std::vector<BleDeviceEntry> entries = provider->Scan(1000);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].firstPass);
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 2u);
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryEnd").size(), 1u);
    // In the first pass: the registry stays empty and no second pass runs.
    const std::uint32_t code = LEAPI_ERROR_INVALID_DISCOVERY_HANDLE;
    LeSimScript("LEAPI_DevicesDiscoveryEnd", code, 1);
    Settle();
    EXPECT_EQ(Outcome([&] { provider->Scan(1000); }), General(code));
    EXPECT_FALSE(provider->FindBleDevice(entry));
    EXPECT_EQ(JournalOf("LEAPI_DevicesDiscoveryStart").size(), 1u);
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of({"CheckLeapiReturnCode"}),
                  Lines{CheckRecord(code, "LEAPI_DevicesDiscoveryEnd")});
    }
    // In the second pass: the first pass's devices stay.
    LeSimScript("LEAPI_DevicesDiscoveryEnd", 0, 1);
    LeSimScript("LEAPI_DevicesDiscoveryEnd", code, 1);
    EXPECT_EQ(Outcome([&] { provider->Scan(1000); }), General(code));
    EXPECT_TRUE(provider->FindBleDevice(entry));
}

}  // namespace
