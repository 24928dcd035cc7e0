// The stack's callbacks on a connected phone: device events and value events
// with arbitrary codes, sessions, flags, handles and lengths, and stack-wide
// events, with the host's writes, reads and a lost link in between.
#include "fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in{data, size};
    fuzz::FreshWorld();
    const fuzz::Phone phone = fuzz::AddPhone(1, true);
    fuzz::Events events;
    auto provider = std::make_unique<NoxBleProvider>(&events, &events);
    provider->Scan(0);
    std::uint32_t handle = 0;
    fuzz::Call([&] { handle = provider->Connect(phone.entry); });
    fuzz::Bytes received;
    for (int step = 0; !in.Empty() && step < 256; ++step) {
        // Events travel on the stack's session; the records name any session.
        const std::uint64_t open = LeSimSessionOf(phone.id);
        const std::uint8_t choice = in.Byte();
        const std::uint64_t named = choice < 96 ? open : choice < 128 ? open + 1 : in.U64();
        switch (choice % 6) {
            case 0: {  // a device event: its record is a session and a 16-bit value
                const std::uint32_t code = in.Pick(192, fuzz::kDeviceEvents);
                LeSessionEstablishedEvent record{named, in.U16()};
                LeSimRaiseDeviceEvent(open, code, &record, sizeof record);
                break;
            }
            case 1: {  // a value event: its header, then exactly the bytes it counts
                const auto code = in.Byte() < 192 ? LEAPI_EVENT_CHARACTERISTIC_VALUE : in.U32();
                LeValueEventHeader header{named, in.Byte(),
                                          in.Byte() < 192 ? phone.valueHandle : in.U16(), 0};
                fuzz::Bytes record = in.Take(255);
                header.length = static_cast<std::uint16_t>(record.size());
                const auto* raw = reinterpret_cast<const std::uint8_t*>(&header);
                record.insert(record.begin(), raw, raw + sizeof header);
                LeSimRaiseRawValueEvent(open, phone.valueHandle, code, record.data(),
                                        static_cast<std::uint32_t>(record.size()));
                break;
            }
            case 2: {
                const fuzz::Bytes bytes = in.Take(32);
                LeSimRaiseStackEvent(in.U32(), bytes.data(),
                                     static_cast<std::uint32_t>(bytes.size()));
                break;
            }
            case 3:
                fuzz::Call([&] { provider->Send(handle, in.Take(64)); });
                break;
            case 4:
                fuzz::Call([&] { provider->Receive(handle, in.Byte() % 4, received); });
                break;
            default:
                fuzz::LoseLinkAndDeliver(in.Byte(), 16, open);
                break;
        }
    }
    fuzz::Finish(provider, {phone});
    return 0;
}
