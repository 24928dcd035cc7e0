#include "testworld.h"

#include <noxb/Exceptions.h>

#include <algorithm>
#include <cwchar>

#if !defined(_WIN32)
#include "tracecapture.h"
#endif

namespace testworld {

LeUuid Uuid16(std::uint16_t value) {
    return {LEAPI_UUID_TYPE_16,
            {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)}};
}

LeUuid DataServiceUuid() { return Uuid16(0x2711); }

LeUuid DataCharacteristicUuid() {
    return LeUuid{LEAPI_UUID_TYPE_128,
                  {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E, 0x87, 0x57, 0x72, 0xF6, 0xFA,
                   0xEB, 0x13, 0xD4}};
}

TestDevice AddDevice(const DeviceSpec& spec) {
    TestDevice device;
    const std::uint8_t address[6] = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, spec.lastAddressByte};
    LeSimMakeDeviceRecord(&device.record, address, spec.name.c_str(), spec.majorClass,
                          spec.minorClass, spec.rssi, 1);
    device.id = LeSimAddDevice(&device.record, spec.discoveryFlags);
    LeUuid uuid = Uuid16(0x1800);
    LeSimAddService(device.id, &uuid);
    uuid = Uuid16(0x2A00);
    LeSimAddCharacteristic(device.id, &uuid, LEAPI_PROP_READ, LESIM_VALUE_STORE);
    for (int s = 0; s < spec.dataServices; ++s) {
        uuid = DataServiceUuid();
        LeSimAddService(device.id, &uuid);
        if (s != 0 || !spec.dataCharacteristic) continue;
        uuid = DataCharacteristicUuid();
        device.valueHandle =
            LeSimAddCharacteristic(device.id, &uuid, spec.properties, spec.behaviour);
        for (const LeUuid& descriptor : spec.descriptors)
            device.descriptorHandles.push_back(LeSimAddDescriptor(device.id, &descriptor));
    }
    return device;
}

BleDeviceEntry EntryOf(const TestDevice& device) {
    const LeDeviceRecord& r = device.record;
    const std::uint8_t* a = r.address;
    wchar_t address[18];
    std::swprintf(address, 18, L"%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return {std::wstring(std::begin(r.name), std::find(std::begin(r.name), std::end(r.name), 0)),
            address, true, true};
}

std::vector<LeSimCall> Journal() {
    std::vector<LeSimCall> calls(LeSimJournalCount());
    for (std::size_t i = 0; i < calls.size(); ++i)
        LeSimJournalGet(static_cast<std::uint32_t>(i), &calls[i]);
    return calls;
}

std::vector<LeSimCall> JournalOf(const std::string& function) {
    std::vector<LeSimCall> calls;
    for (const LeSimCall& call : Journal())
        if (function == call.function) calls.push_back(call);
    return calls;
}

std::vector<std::string> JournalNames() {
    std::vector<std::string> names;
    for (const LeSimCall& call : Journal()) names.emplace_back(call.function);
    return names;
}

std::string Code(std::uint32_t code) { return std::to_string(static_cast<std::int32_t>(code)); }

Lines CallsWithResults() {
    Lines calls;
    for (const LeSimCall& call : Journal())
        calls.push_back(call.function + (call.result != 0 ? "=" + Code(call.result) : ""));
    return calls;
}

#if defined(_WIN32)
// Under Wine no trace session ever enables the module's provider.
struct Trace::Impl {};
Trace::Trace() = default;
bool Trace::Available() { return false; }
Lines Trace::Of(const std::vector<std::string>&) const { return {}; }
void Trace::Clear() {}
#else
// Through the trace shim: a consumer for the module's provider, enabled at
// every level.
struct Trace::Impl : TraceCapture {};
Trace::Trace() : impl(std::make_unique<Impl>()) { impl->Enable(0); }
bool Trace::Available() { return true; }

Lines Trace::Of(const std::vector<std::string>& functions) const {
    Lines lines;
    for (const CapturedEvent& e : impl->Events()) {
        if (!functions.empty() &&
            std::find(functions.begin(), functions.end(), e.Function()) == functions.end())
            continue;
        const int level = noxb::trace::kEventInfo - e.descriptor.Id;
        lines.push_back(std::string(1, level >= 0 && level < 4 ? "IWEC"[level] : '?') + " " +
                        e.Module() + " " + e.Function() + ": " + e.Message());
    }
    return lines;
}

void Trace::Clear() { impl->Clear(); }
#endif
Trace::~Trace() = default;

// The family's concrete classes have no subclasses: the handler that matches
// names the type.
std::string Outcome(const std::function<void()>& op) {
    try {
        op();
        return "none";
    } catch (const NoxBleProviderGeneralException& e) {
        if (e.nativeCode != e.leapiCode) return "General with two codes";
        return "General " + std::to_string(e.leapiCode);
    } catch (const noxb::BluetoothProvider::ConnectionFailedException&) {
        return "ConnectionFailed";
    } catch (const noxb::BluetoothProvider::ProviderServiceNotFoundException&) {
        return "ServiceNotFound";
    } catch (const std::exception& e) {
        return std::string("unexpected: ") + e.what();
    }
}

Timed TimedOutcome(const std::function<void()>& op) {
    const auto start = std::chrono::steady_clock::now();
    std::string outcome = Outcome(op);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {outcome, took.count()};
}

void HostEvents::OnDeviceDisconnected(void* ctx, BleDevice* device) {
    const std::uint8_t* address = device->deviceInfo.address;
    Add({kDisconnected, ctx, device, 0, std::this_thread::get_id(),
         std::string(address, address + 6)});
}

void HostEvents::OnCharacteristicData(void* ctx, BleCharacteristicInfo* info) {
    Add({kData, ctx, info, 0, std::this_thread::get_id(),
         take ? info->characteristic->TakeNotifications() : ""});
}

void HostEvents::OnSessionEstablished(void* ctx, std::uint64_t session) {
    Add({kEstablished, ctx, nullptr, session, std::this_thread::get_id(), {}});
}

std::vector<HostEvents::Call> HostEvents::Calls() const {
    std::lock_guard<std::mutex> hold(guard);
    return calls;
}

void HostEvents::Clear() {
    std::lock_guard<std::mutex> hold(guard);
    calls.clear();
}

void HostEvents::Add(Call call) {
    std::lock_guard<std::mutex> hold(guard);
    calls.push_back(std::move(call));
}

}  // namespace testworld
