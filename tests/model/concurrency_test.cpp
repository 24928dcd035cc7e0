// The stack's events racing the host's operations on the same device (meant
// for the thread sanitizer build, and safe to run in every build).
#include <chrono>

#include "modeltest.h"

namespace {

using namespace modeltest;

class Concurrency : public ModelTest {};

TEST_F(Concurrency, DeviceAndValueEventsRaceOpeningRefreshTransferAndClosing) {
    const TestDevice test = AddDevice();  // echoes writes as notifications too
    const auto device = BleDevice::Create(test.record, &host, Context());
    host.take = true;
    LeSimJournalEnable(0);
    std::atomic<bool> stop{false};
    std::thread stack([&] {
        const std::uint8_t bytes[] = {1, 2, 3, 4};
        for (unsigned i = 0; !stop; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            const std::uint64_t session = LeSimSessionOf(test.id);
            const LeSessionEstablishedEvent established{session, 5};
            const LeSessionClosedEvent other{session + 1};
            if (session == LEAPI_NO_SESSION) continue;
            if (i % 8 == 0) {
                LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SESSION_ESTABLISHED, &established,
                                      sizeof established);
            } else if (i % 8 == 1) {
                LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SESSION_CLOSED, &other, sizeof other);
            } else if (i % 8 == 2) {
                LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
            } else if (i % 400 == 3) {
                LeSimDropSession(session);  // event 0x1020
            } else {
                LeSimRaiseValueEvent(session, test.valueHandle, 3, i & 1, bytes, 4);
            }
        }
    });
    int rounds = 0, completed = 0;
    std::vector<std::uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) {
        try {
            device->GATTSessionEstablish();
            device->RefreshServices();
            const auto info = device->FindService()->FindCharacteristic();
            info->WriteLong({9, 8, 7});
            info->ReadLong(out, 0);
            ++completed;
        } catch (const noxb::BluetoothProvider::BluetoothProviderException&) {
            // The session went away under the operation: open it again.
        }
        device->GATTSessionClose();
        ++rounds;
    }
    stop = true;
    stack.join();
    LeSimFlushEvents();
    EXPECT_GT(rounds, 5);
    EXPECT_GT(completed, 0);
    for (const Call& call : host.Calls()) {
        EXPECT_EQ(call.context, Context());
        ASSERT_NE(call.thread, std::this_thread::get_id());
    }
}

}  // namespace
