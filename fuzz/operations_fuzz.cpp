// Random sequences of host operations on one provider (scans, connections,
// transfers, signal strength, disconnections) while the stack answers any of
// its calls with random codes, raises events and loses links in between.
#include "fuzzing.h"

namespace {

// Every LEAPI_ function the provider calls but Initialize, and the codes they answer.
// clang-format off
const char* const kFunctions[] = {
    "LEAPI_Uninitialize", "LEAPI_DevicesDiscoveryStart", "LEAPI_DevicesDiscoveryGetNext",
    "LEAPI_DevicesDiscoveryEnd", "LEAPI_GATTSessionEstablishEx", "LEAPI_GATTSessionClose",
    "LEAPI_GATTSessionRSSIGet", "LEAPI_ServicesDiscoveryStartByUUID",
    "LEAPI_ServicesDiscoveryGetNext", "LEAPI_ServicesDiscoveryEnd",
    "LEAPI_CharacteristicsDiscoveryStartByUUID", "LEAPI_CharacteristicsDiscoveryGetNext",
    "LEAPI_CharacteristicsDiscoveryEnd", "LEAPI_CharacteristicNotificationSubscribe",
    "LEAPI_CharacteristicIndicationSubscribe", "LEAPI_CharacteristicDescriptorsDiscoveryStart",
    "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
    "LEAPI_CharacteristicDescriptorsDiscoveryEnd", "LEAPI_CharacteristicDescriptorWrite",
    "LEAPI_CharacteristicReadLong", "LEAPI_CharacteristicWriteLong"};
const std::uint32_t kCodes[] = {
    0xEAEA0005, LEAPI_ALREADY_INITIALIZED, LEAPI_ERROR_BUSY, LEAPI_ERROR_SESSION_EXISTS,
    LEAPI_ERROR_INVALID_SESSION_HANDLE, LEAPI_ERROR_NOT_OFFERED, LEAPI_ERROR_AGAIN};
// clang-format on

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in{data, size};
    fuzz::FreshWorld();
    // Two phones with the data service, one without it.
    const std::vector<fuzz::Phone> phones = {fuzz::AddPhone(1, true), fuzz::AddPhone(2, true),
                                             fuzz::AddPhone(3, false)};
    fuzz::Events events;
    auto provider = std::make_unique<NoxBleProvider>(&events, &events);
    std::vector<std::uint32_t> handles = {7};  // and one that is never a connection's
    fuzz::Bytes received;
    for (int step = 0; !in.Empty() && step < 64; ++step) {
        const std::uint8_t choice = in.Byte();
        const fuzz::Phone& phone = phones[in.Byte() % phones.size()];
        const std::uint32_t handle = handles[in.Byte() % handles.size()];
        const std::uint64_t open = LeSimSessionOf(phone.id);
        switch (choice % 10) {
            case 0:
                fuzz::Call([&] { provider->Scan(in.Byte() % 3 * 1000); });
                break;
            case 1:
                fuzz::Call([&] { handles.push_back(provider->Connect(phone.entry)); });
                break;
            case 2:
                fuzz::Call([&] { provider->Disconnect(handle); });
                break;
            case 3:
                fuzz::Call([&] { provider->Send(handle, in.Take(64)); });
                break;
            case 4:
                fuzz::Call([&] { provider->Receive(handle, in.Byte() % 4, received); });
                break;
            case 5:
                fuzz::Call([&] { provider->GetRSSI(phone.entry); });
                break;
            case 6: {  // the next calls of a function answer a code
                const std::size_t function = in.Byte() % std::size(kFunctions);
                std::uint32_t code = in.Pick(224, kCodes);
                // A close (kFunctions[5]) answered "no such session" while the
                // session stays open would be a stack contradicting itself.
                if (function == 5 && code == LEAPI_ERROR_INVALID_SESSION_HANDLE) code = 0xEAEA0005;
                LeSimScript(kFunctions[function], code, 1 + in.Byte() % 3);
                break;
            }
            case 7: {  // a device event naming the session it travels on
                const LeSessionEstablishedEvent record{open, in.U16()};
                const std::uint32_t code = in.Pick(224, fuzz::kDeviceEvents);
                LeSimRaiseDeviceEvent(open, code, &record, sizeof record);
                break;
            }
            case 8: {
                const fuzz::Bytes bytes = in.Take(64);
                LeSimRaiseValueEvent(open, phone.valueHandle, 3, in.Byte(), bytes.data(),
                                     static_cast<std::uint16_t>(bytes.size()));
                break;
            }
            default:
                fuzz::LoseLinkAndDeliver(in.Byte(), 64, open);
                break;
        }
    }
    fuzz::Finish(provider, phones);
    return 0;
}
