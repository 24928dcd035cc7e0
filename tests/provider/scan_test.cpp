// Scan: the two discovery passes, their filters, the entries and the registry.
// (Each stack call of a scan failing in turn is the fault-injection test's.)
#include <algorithm>

#include "fixture.h"

namespace {

class Scan : public WorldTest {};

TEST_F(Scan, TheSecondPassLastsTheLowByteOfTheWholeSecondsAndABusyRadioIsAskedForSixSeconds) {
    const std::pair<std::int64_t, unsigned> cases[] = {
        // duration, second pass (0: none)
        {0, 0}, {999, 0}, {-999, 0}, {1000, 1}, {5999, 5}, {256000, 0}, {300000, 44}, {-1000, 255}};
    for (const auto& [ms, seconds] : cases) {
        LeSimJournalClear();
        provider->Scan(ms);
        const std::vector<LeSimCall> starts = JournalOf("LEAPI_DevicesDiscoveryStart");
        ASSERT_EQ(starts.size(), seconds != 0 ? 2u : 1u) << ms;
        EXPECT_TRUE(starts[0].args[0] == 1 && starts[0].args[1] == 2) << ms;
        EXPECT_TRUE(seconds == 0 || (starts[1].args[0] == seconds && starts[1].args[1] == 1)) << ms;
    }
    Settle();
    LeSimScript("LEAPI_DevicesDiscoveryStart", LEAPI_ERROR_BUSY, 1000);
    const Timed scan = TimedOutcome([&] { EXPECT_TRUE(provider->Scan(0).empty()); });
    EXPECT_TRUE(scan.outcome == "none" && scan.seconds >= 5 && scan.seconds <= 12) << scan.seconds;
    const std::size_t starts = LeSimJournalCount();
    EXPECT_TRUE(starts >= 40 && starts <= 70) << starts;
    EXPECT_EQ(JournalNames(), Lines(starts, "LEAPI_DevicesDiscoveryStart"));
}

// Each row is a device of its own that both passes see: the class filter
// applies to both, the signal filter to the second; the record's flags, mode
// and byte 525 make it connectable; and only a connectable device the first
// pass lists is in the registry. Three more come first: one without a name
// (not listed), one with all 249 units of name and no NUL, one seen live only.
TEST_F(Scan, FiltersAndRecordsDecideWhatIsListedAndWhatCanBeFound) {
    const struct {
        unsigned listed;  // by the passes it names (1 the first, 2 the second); 4: connectable
        std::uint8_t major, minor;
        std::int8_t rssi;
        std::uint32_t advertisingFlags, deviceMode;
        std::uint8_t byte525;
    } rows[] = {
        {0, 1, 24, -60, 0, 1, 1}, {0, 2, 8, -60, 0, 1, 1},         {0, 6, 4, -60, 0, 1, 1},
        {7, 5, 0, -60, 0, 1, 1},  {7, 0, 99, -60, 0, 1, 1},        {7, 1, 16, -60, 0, 1, 1},
        {7, 1, 20, -60, 0, 1, 1}, {7, 1, 28, -60, 0, 1, 1},        {7, 2, 4, -60, 0, 1, 1},
        {5, 2, 12, -91, 0, 1, 1}, {7, 2, 12, -90, 0, 1, 1},        {7, 2, 12, -60, 2, 1, 0xFF},
        {3, 2, 12, -60, 1, 1, 1}, {3, 2, 12, -60, 1u << 31, 1, 1}, {3, 2, 12, -60, 0, 0, 1},
        {3, 2, 12, -60, 0, 2, 1}, {3, 2, 12, -60, 0, 1, 0}};
    const auto line = [](unsigned last, bool first, bool connectable, bool found,
                         const std::wstring& name = L"dev") {
        return std::to_string(last) + " " + std::string(name.begin(), name.end()) +
               (first ? " first" : " second") + (connectable ? " connectable" : "") +
               (found ? " found" : "");
    };
    std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0x41};
    LeDeviceRecord record{};
    LeSimRemoveDevice(phone.id);
    for (; address[5] <= 0x43; ++address[5]) {
        LeSimMakeDeviceRecord(&record, address, address[5] == 0x43 ? "late" : "", 2, 12, -50, 1);
        if (address[5] == 0x42) std::fill_n(record.name, 249, 'n');
        LeSimAddDevice(&record, address[5] == 0x43 ? LEAPI_DISCOVERY_LIVE : LEAPI_DISCOVERY_KNOWN);
    }
    Lines expected = {line(0x42, true, true, true, std::wstring(249, L'n'))},
          second = {line(0x43, false, true, false, L"late")}, got;
    for (const auto& r : rows) {
        LeSimMakeDeviceRecord(&record, address, "dev", r.major, r.minor, r.rssi, 1);
        record.advertisingFlags = r.advertisingFlags;
        record.deviceMode = r.deviceMode;
        record.connectable = r.byte525;
        LeSimAddDevice(&record, kAllPasses);
        const bool connectable = r.listed & 4;
        if (r.listed & 1) expected.push_back(line(address[5], true, connectable, connectable));
        if (r.listed & 2) second.push_back(line(address[5], false, connectable, connectable));
        ++address[5];
    }
    expected.insert(expected.end(), second.begin(), second.end());
    for (const BleDeviceEntry& e : provider->Scan(1000))
        got.push_back(line(std::stoul(e.address.substr(15), nullptr, 16), e.firstPass,
                           e.connectable, provider->FindBleDevice(e) != nullptr, e.name));
    EXPECT_EQ(got, expected);
    // The first listed row, its address in capitals.
    EXPECT_FALSE(provider->FindBleDevice({L"dev", L"A0:B1:C2:D3:E4:47", true, true}));
}

// Scan takes no operation lock: looking a device up races a new scan's
// registry (the thread sanitizer's case).
TEST_F(Scan, LookUpsOnAnotherThreadRaceRescansSafely) {
    std::atomic<bool> stop{false};
    std::thread looker([&] {
        while (!stop) provider->FindBleDevice(EntryOf(phone));
    });
    for (int i = 0; i < 20; ++i) provider->Scan(0);
    stop = true;
    looker.join();
    EXPECT_TRUE(provider->FindBleDevice(EntryOf(phone)));
}

}  // namespace
