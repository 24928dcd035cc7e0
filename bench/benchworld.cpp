#include "benchworld.h"

#include <noxb/Trace.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "logging/eventprovider.h"
#include "logging/korvelloggerble.h"

namespace benchworld {

namespace {

LeUuid Uuid16(std::uint16_t value) {
    LeUuid uuid{};
    uuid.type = LEAPI_UUID_TYPE_16;
    uuid.value[0] = static_cast<std::uint8_t>(value & 0xFF);
    uuid.value[1] = static_cast<std::uint8_t>(value >> 8);
    return uuid;
}

LeUuid DataCharacteristicUuid() {
    return LeUuid{LEAPI_UUID_TYPE_128,
                  {0x08, 0x59, 0x0F, 0x7E, 0xDB, 0x05, 0x46, 0x7E, 0x87, 0x57, 0x72, 0xF6, 0xFA,
                   0xEB, 0x13, 0xD4}};
}

GUID ModuleProviderId() {
    GUID id{};
    id.Data1 = noxb::trace::kProviderIdData1;
    id.Data2 = noxb::trace::kProviderIdData2;
    id.Data3 = noxb::trace::kProviderIdData3;
    std::memcpy(id.Data4, noxb::trace::kProviderIdData4, sizeof id.Data4);
    return id;
}

}  // namespace

std::vector<std::uint8_t> ValueBytes() {
    std::vector<std::uint8_t> bytes(kValueBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

void ResetWorld() {
    LeSimReset();
    LeSimSetDiscoveryPace(0);
    LeSimJournalEnable(0);
}

Phone AddPhone(std::uint32_t index, std::uint8_t discoveryFlags, bool dataService) {
    Phone phone;
    const std::uint8_t address[6] = {0xA0,
                                     0xB1,
                                     static_cast<std::uint8_t>(index >> 24),
                                     static_cast<std::uint8_t>(index >> 16),
                                     static_cast<std::uint8_t>(index >> 8),
                                     static_cast<std::uint8_t>(index)};
    const std::string name = "Phone " + std::to_string(index);
    LeSimMakeDeviceRecord(&phone.record, address, name.c_str(), 2, 12, -60, 1);
    phone.id = LeSimAddDevice(&phone.record, discoveryFlags);
    if (!dataService) return phone;
    const LeUuid access = Uuid16(0x1800);
    LeSimAddService(phone.id, &access);
    const LeUuid service = Uuid16(0x2711);
    LeSimAddService(phone.id, &service);
    const LeUuid characteristic = DataCharacteristicUuid();
    phone.valueHandle = LeSimAddCharacteristic(
        phone.id, &characteristic,
        LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE,
        LESIM_VALUE_STORE);
    const LeUuid clientConfig = Uuid16(0x2902);
    LeSimAddDescriptor(phone.id, &clientConfig);
    return phone;
}

std::wstring AddressText(const LeDeviceRecord& record) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (int i = 0; i < 6; ++i) {
        if (i != 0) text.push_back(L':');
        text.push_back(kDigits[record.address[i] >> 4]);
        text.push_back(kDigits[record.address[i] & 0xF]);
    }
    return text;
}

Connection::Connection(IBleGattEvents* sink, void* context) {
    ResetWorld();
    phone = AddPhone(1, LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN, true);
    provider = std::make_unique<NoxBleProvider>(sink, context);
    const std::vector<BleDeviceEntry> entries = provider->Scan(0);
    if (entries.empty()) throw std::runtime_error("the phone was not found");
    handle = provider->Connect(entries.front());
    session = LeSimSessionOf(phone.id);
    device = provider->FindBleDevice(handle);
    data = device->FindService()->FindCharacteristic().get();
    LeSimFlushEvents();
}

Connection::~Connection() {
    LeSimFlushEvents();
    data = nullptr;
    device.reset();
    provider->Disconnect(handle);
    provider.reset();
    ResetWorld();
}

TraceSession::TraceSession() : buffer(8192) {
    EtwShimSetConsumer(&TraceSession::Consume, this);
    const GUID id = ModuleProviderId();
    EtwShimEnableProvider(&id, 4, noxb::trace::kKeyword, 0);
}

TraceSession::~TraceSession() {
    const GUID id = ModuleProviderId();
    EtwShimDisableProvider(&id);
    EtwShimSetConsumer(nullptr, nullptr);
}

void TraceSession::Consume(const GUID* /*providerId*/, const EVENT_DESCRIPTOR* /*descriptor*/,
                           uint32_t count, const EVENT_DATA_DESCRIPTOR* items, void* context) {
    auto* session = static_cast<TraceSession*>(context);
    std::size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const std::size_t size = std::min<std::size_t>(items[i].Size, session->buffer.size() - at);
        std::memcpy(session->buffer.data() + at,
                    reinterpret_cast<const void*>(static_cast<std::uintptr_t>(items[i].Ptr)), size);
        at += size;
    }
    ++session->events;
}

void RequireTracerSession(benchmark::State& state) {
    // The module registers its provider with its first record.
    KorvelLoggerBle::Instance();
    // The session's enable request may reach the process a moment after it
    // started: the shim's watcher passes it on within a tenth of a second.
    for (int wait = 0; wait < 300 && !IsEventEnabled(EventIndexOf(LogLevel::Info)); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!IsEventEnabled(EventIndexOf(LogLevel::Info))) {
        state.SkipWithError("no LTTng session listens: run it under scripts/trace-capture.sh");
    }
}

}  // namespace benchworld
