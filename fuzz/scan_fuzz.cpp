// Device records as the stack reports them, all 1580 bytes arbitrary (names
// without a terminator, any classes, signal strengths and flags) and any
// number of them, through both discovery passes of Scan into the entries and
// the registry; then Connect and GetRSSI on what it reported.
#include "fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in{data, size};
    fuzz::FreshWorld();
    const std::int64_t durationMs = in.Byte() % 3 * 1000;  // 0: the first pass only
    std::size_t records = 0;
    for (; !in.Empty() && records < 32; ++records) {
        const std::uint8_t passes = in.Byte();  // which discovery passes report it
        LeDeviceRecord record;
        in.Fill(&record, sizeof record);
        LeSimAddDevice(&record, passes);
    }
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    std::vector<BleDeviceEntry> entries;
    if (!fuzz::Call([&] { entries = provider->Scan(durationMs); })) std::abort();
    if (entries.size() > 2 * records) std::abort();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BleDeviceEntry& entry = entries[i];
        if (entry.name.empty() || entry.name.size() > LEAPI_DEVICE_NAME_UNITS) std::abort();
        if (entry.address.size() != 17) std::abort();
        if (!provider->FindBleDevice(entry) && entry.firstPass && entry.connectable) std::abort();
        if (i >= 4) continue;
        // Their sessions open, but no data service completes the connection.
        if (fuzz::Call([&] { provider->Connect(entry); })) std::abort();
        fuzz::Call([&] { provider->GetRSSI(entry); });
    }
    fuzz::Finish(provider, {});
    return 0;
}
