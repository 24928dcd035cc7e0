// A device's GATT session: opening, closing, the session table and the
// stack's device events.
#include <cstring>

#include "modeltest.h"

namespace {

using namespace modeltest;

class Session : public ModelTest {};

TEST_F(Session, OpeningRecordsOneTableEntryPerAddressAndClosingDropsOnlyItsOwn) {
    DeviceSpec second;
    second.lastAddressByte = 2;
    const TestDevice ta = AddDevice(), tb = AddDevice(second);
    const auto a = BleDevice::Create(ta.record, nullptr, Context());
    const auto b = BleDevice::Create(tb.record, nullptr, Context());
    a->GATTSessionEstablish();
    b->GATTSessionEstablish();

    const std::vector<LeSimCall> calls = JournalOf("LEAPI_GATTSessionEstablishEx");
    ASSERT_EQ(calls.size(), 2u);
    const LeCallback callback = &BleDevice::OnDeviceEvent;
    EXPECT_EQ(calls[0].args[1], reinterpret_cast<std::uintptr_t>(callback));
    EXPECT_EQ(calls[0].args[2], reinterpret_cast<std::uintptr_t>(a.get()));
    EXPECT_EQ(calls[0].args[3], 2u);
    ASSERT_EQ(calls[0].dataLength, sizeof(LeDeviceRecord));
    EXPECT_EQ(std::memcmp(calls[0].data, &ta.record, sizeof ta.record), 0);
    EXPECT_EQ(a->SessionHandle(), calls[0].args[4]);
    EXPECT_EQ(a->SessionHandle(), LeSimSessionOf(ta.id));
    EXPECT_EQ(a->SessionExtra(), calls[0].args[5]);
    EXPECT_EQ(sessionsByAddress.Size(), 2u);
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*a)), a->SessionHandle());

    a->GATTSessionClose();
    EXPECT_EQ(a->SessionHandle(), kNoSession);
    EXPECT_EQ(LeSimSessionOf(ta.id), LEAPI_NO_SESSION);
    EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*a)));
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*b)), b->SessionHandle());
    EXPECT_EQ(LeSimSessionOf(tb.id), b->SessionHandle());
    EXPECT_TRUE(trace.MessagesOf("BleDevice::GATTSessionEstablish").empty());
    EXPECT_TRUE(trace.MessagesOf("BleDevice::GATTSessionClose").empty());
}

TEST_F(Session, AnExistingSessionIsKeptOrAdoptedOrReported) {
    const TestDevice test = AddDevice();
    const auto first = Open(test);
    const std::uint64_t session = first->SessionHandle();

    // Held: the one attempt (which the stack answers 0xEAEA0019), nothing logged.
    first->GATTSessionEstablish();
    const std::vector<LeSimCall> calls = Journal();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result, LEAPI_ERROR_SESSION_EXISTS);
    EXPECT_EQ(first->SessionHandle(), session);

    // Not held, but the table knows the address (a later scan's object).
    const auto second = BleDevice::Create(test.record, nullptr, Context());
    second->GATTSessionEstablish();
    EXPECT_EQ(second->SessionHandle(), session);
    EXPECT_TRUE(Messages().empty());

    // Neither.
    sessionsByAddress.Clear();
    const auto third = BleDevice::Create(test.record, nullptr, Context());
    EXPECT_EQ(ThrownCode([&] { third->GATTSessionEstablish(); }), -353763303);
    EXPECT_EQ(third->SessionHandle(), kNoSession);
    if (Trace::Available()) {
        const std::vector<Record> records = trace.Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 2);
        EXPECT_EQ(records[0].module, "BLE");
        EXPECT_EQ(records[0].function, "BleDevice::GATTSessionEstablish");
        EXPECT_EQ(records[0].message,
                  "connection to device failed, couldn't establish session with device");
    }

    // Any other code is raised too, and the old handle stays.
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_NOT_CONNECTABLE, 1);
    EXPECT_EQ(ThrownCode([&] { first->GATTSessionEstablish(); }),
              static_cast<int>(LEAPI_ERROR_NOT_CONNECTABLE));
    EXPECT_EQ(first->SessionHandle(), session);
}

TEST_F(Session, ClosingAlwaysForgetsTheSessionAndOnlyLogsTheStacksRefusal) {
    const struct {
        bool open;
        std::uint32_t script;  // 0: the stack answers for itself
        std::uint32_t answer;
        const char* message;
    } cases[] = {
        {false, 0, LEAPI_ERROR_INVALID_SESSION_HANDLE,
         "Failed close GATTSession with error LEAPI_ERROR_INVALID_SESSION_HANDLE"},
        {false, LEAPI_ERROR_NOT_PERMITTED, LEAPI_ERROR_NOT_PERMITTED,
         "Failed close GATTSession with unknown error"},
        {true, LEAPI_ERROR_NOT_PERMITTED, LEAPI_ERROR_NOT_PERMITTED,
         "Failed close GATTSession with unknown error"},
        {true, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        const TestDevice test = AddDevice();
        const auto device =
            c.open ? Open(test) : BleDevice::Create(test.record, nullptr, Context());
        const std::uint64_t session = device->SessionHandle();
        sessionsByAddress.Set(AddressOf(*device), 77);
        LeSimScript("LEAPI_GATTSessionClose", c.script, 1);
        EXPECT_NO_THROW(device->GATTSessionClose());
        const std::vector<LeSimCall> calls = Journal();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args[0], session);
        EXPECT_EQ(calls[0].result, c.answer);
        EXPECT_EQ(device->SessionHandle(), kNoSession);
        EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*device)));
        if (Trace::Available()) {
            const std::vector<Record> records = trace.Records();
            ASSERT_EQ(records.size(), c.message ? 1u : 0u);
            if (c.message) {
                EXPECT_EQ(records[0].level, 2);
                EXPECT_EQ(records[0].function, "BleDevice::GATTSessionClose");
                EXPECT_EQ(records[0].message, c.message);
            }
        }
        Restart();
    }
}

TEST_F(Session, DeviceEventsChangeTheSessionAndReachTheHostOnTheStacksThread) {
    const TestDevice test = AddDevice();
    const auto device = BleDevice::Create(test.record, &host, Context());
    device->GATTSessionEstablish();
    const std::uint64_t session = device->SessionHandle();
    LeSimFlushEvents();
    // The stack reports the opening with event 0x1030 itself.
    std::vector<HostCall> calls = host.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].slot, 2);
    EXPECT_EQ(calls[0].context, Context());
    EXPECT_EQ(calls[0].session, session);
    device->RefreshServices();
    Forget();

    const LeSessionEstablishedEvent established{session + 100, 9};
    Raise(session, LEAPI_EVENT_SESSION_ESTABLISHED, &established, sizeof established);
    EXPECT_EQ(device->SessionHandle(), session + 100);
    EXPECT_EQ(device->SessionExtra(), 9u);
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*device)), session);

    const LeSessionClosedEvent other{session};  // no longer the device's handle
    Raise(session, LEAPI_EVENT_SESSION_CLOSED, &other, sizeof other);
    EXPECT_EQ(device->SessionHandle(), session + 100);
    const LeSessionClosedEvent current{session + 100};
    Raise(session, LEAPI_EVENT_SESSION_CLOSED, &current, sizeof current);
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*device)), session);
    // The table still names the stack's session: the next opening adopts it.
    device->GATTSessionEstablish();
    EXPECT_EQ(device->SessionHandle(), session);

    EXPECT_FALSE(device->RefreshNeeded());
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_TRUE(device->RefreshNeeded());
    Raise(session, 0x4242);
    EXPECT_EQ(device->SessionHandle(), session);

    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*device)));

    calls = host.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].slot, 2);
    EXPECT_EQ(calls[0].session, session + 100);
    EXPECT_EQ(calls[1].slot, 0);
    EXPECT_EQ(calls[1].object, device.get());
    for (const HostCall& call : calls) {
        EXPECT_EQ(call.context, Context());
        EXPECT_NE(call.thread, std::this_thread::get_id());
    }
    if (Trace::Available()) {
        const Names expected = {"4144", "4160", "4160", "4656", "16962", "4128"};
        const std::vector<Record> records = trace.Records();
        ASSERT_EQ(records.size(), expected.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].message, "OnDeviceCallback happened event:" + expected[i]);
            EXPECT_EQ(records[i].level, 0);
            EXPECT_EQ(records[i].module, "BLE_STRING");
            EXPECT_EQ(records[i].function, "BleDevice::OnDeviceCallback");
        }
    }
}

TEST_F(Session, WithoutAnEventsObjectTheEventsStillChangeTheSession) {
    const TestDevice test = AddDevice();
    const auto device = Open(test);
    const std::uint64_t session = device->SessionHandle();
    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    EXPECT_EQ(sessionsByAddress.Size(), 0u);
    const LeSessionEstablishedEvent established{session, 3};
    Raise(session, LEAPI_EVENT_SESSION_ESTABLISHED, &established, sizeof established);
    EXPECT_EQ(device->SessionHandle(), session);
    EXPECT_EQ(device->SessionExtra(), 3u);
}

// The stack keeps a lost link's session callback until that handle is
// closed, which the device, having forgotten the handle, never does: the
// device must outlive its own close and the host's reference.
TEST_F(Session, ALostLinksDeviceStaysAliveForTheStacksLateEvents) {
    const TestDevice test = AddDevice();
    auto device = Open(test, &host);
    const std::uint64_t session = device->SessionHandle();
    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    device->GATTSessionClose();
    // Neither does a later session's close let it go.
    device->GATTSessionEstablish();
    ASSERT_NE(device->SessionHandle(), session);
    LeSimFlushEvents();
    device->GATTSessionClose();
    device.reset();
    const LeSessionClosedEvent closed{session};
    Raise(session, LEAPI_EVENT_SESSION_CLOSED, &closed, sizeof closed);
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_EQ(host.Calls().size(), 2u);  // the disconnection, the new session
}

}  // namespace
