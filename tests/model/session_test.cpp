// A device's GATT session: opening, closing, the session table and the
// stack's device events.
#include <cstring>

#include "modeltest.h"

namespace {

using namespace modeltest;

class Session : public ModelTest {};

TEST_F(Session, OpeningKeepsOneTableEntryPerAddressAndClosingDropsOnlyItsOwn) {
    DeviceSpec second;
    second.lastAddressByte = 2;
    const TestDevice ta = AddDevice(), tb = AddDevice(second);
    const auto a = BleDevice::Create(ta.record, nullptr, Context());
    const auto b = BleDevice::Create(tb.record, nullptr, Context());
    a->GATTSessionEstablish();
    b->GATTSessionEstablish();
    const LeSimCall call = JournalOf("LEAPI_GATTSessionEstablishEx").at(0);
    EXPECT_TRUE(call.args[2] == reinterpret_cast<std::uintptr_t>(a.get()) && call.args[3] == 2);
    EXPECT_EQ(std::memcmp(call.data, &ta.record, sizeof ta.record), 0);
    EXPECT_TRUE(a->SessionHandle() == call.args[4] && a->SessionExtra() == call.args[5]);
    EXPECT_EQ(sessionsByAddress.Size(), 2u);
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*a)), LeSimSessionOf(ta.id));

    a->GATTSessionClose();
    EXPECT_EQ(a->SessionHandle(), kNoSession);
    EXPECT_EQ(LeSimSessionOf(ta.id), LEAPI_NO_SESSION);
    EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*a)));
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*b)), b->SessionHandle());
}

TEST_F(Session, AnExistingSessionIsKeptOrAdoptedOrReported) {
    const TestDevice test = AddDevice();
    const auto first = Open(test);
    const std::uint64_t session = first->SessionHandle();
    // Held: the one attempt, which the stack answers 0xEAEA0019.
    first->GATTSessionEstablish();
    EXPECT_EQ(CallsWithResults(),
              Lines{"LEAPI_GATTSessionEstablishEx=" + Code(LEAPI_ERROR_SESSION_EXISTS)});
    EXPECT_EQ(first->SessionHandle(), session);
    // Not held, but in the table (a later scan's object of the device).
    const auto second = BleDevice::Create(test.record, nullptr, Context());
    second->GATTSessionEstablish();
    EXPECT_EQ(second->SessionHandle(), session);
    EXPECT_TRUE(trace.Messages().empty());

    sessionsByAddress.Clear();  // neither
    const auto third = BleDevice::Create(test.record, nullptr, Context());
    EXPECT_EQ(Outcome([&] { third->GATTSessionEstablish(); }), "General -353763303");
    EXPECT_EQ(third->SessionHandle(), kNoSession);
    ExpectRecords(
        {"E BLE BleDevice::GATTSessionEstablish: connection to device failed, couldn't "
         "establish session with device"});
    // Any other code is raised too; the old handle stays.
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_NOT_CONNECTABLE, 1);
    EXPECT_EQ(Outcome([&] { first->GATTSessionEstablish(); }),
              General(LEAPI_ERROR_NOT_CONNECTABLE));
    EXPECT_EQ(first->SessionHandle(), session);
}

TEST_F(Session, ClosingAlwaysForgetsTheSessionAndOnlyLogsTheStacksRefusal) {
    const struct {
        bool open;
        std::uint32_t script, answer;  // script 0: the stack answers for itself
        const char* message;
    } cases[] = {
        {false, 0, LEAPI_ERROR_INVALID_SESSION_HANDLE,
         "Failed close GATTSession with error LEAPI_ERROR_INVALID_SESSION_HANDLE"},
        {true, LEAPI_ERROR_NOT_PERMITTED, LEAPI_ERROR_NOT_PERMITTED,
         "Failed close GATTSession with unknown error"},
        {true, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        Restart();
        const TestDevice test = AddDevice();
        const auto device =
            c.open ? Open(test) : BleDevice::Create(test.record, nullptr, Context());
        const std::uint64_t session = device->SessionHandle();
        sessionsByAddress.Set(AddressOf(*device), 77);
        LeSimScript("LEAPI_GATTSessionClose", c.script, 1);
        EXPECT_NO_THROW(device->GATTSessionClose());
        ASSERT_EQ(Journal().size(), 1u);
        EXPECT_TRUE(Journal()[0].args[0] == session && Journal()[0].result == c.answer);
        EXPECT_EQ(device->SessionHandle(), kNoSession);
        EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*device)));
        ExpectRecords(c.message
                          ? Lines{std::string("E BLE BleDevice::GATTSessionClose: ") + c.message}
                          : Lines{});
    }
}

TEST_F(Session, DeviceEventsChangeTheSessionAndReachTheHostOnTheStacksThread) {
    const TestDevice test = AddDevice();
    const auto device = BleDevice::Create(test.record, &host, Context());
    device->GATTSessionEstablish();
    const std::uint64_t session = device->SessionHandle();
    LeSimFlushEvents();  // the stack reports the opening with event 0x1030
    ASSERT_EQ(host.Calls().size(), 1u);
    EXPECT_TRUE(host.Calls()[0].slot == HostEvents::kEstablished &&
                host.Calls()[0].session == session);
    device->RefreshServices();
    Forget();

    const LeSessionEstablishedEvent established{session + 100, 9};
    Raise(session, LEAPI_EVENT_SESSION_ESTABLISHED, &established, sizeof established);
    EXPECT_TRUE(device->SessionHandle() == session + 100 && device->SessionExtra() == 9u);
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*device)), session);
    for (std::uint64_t closed : {session, session + 100}) {  // another handle, then its own
        Raise(session, LEAPI_EVENT_SESSION_CLOSED, &closed, sizeof closed);
    }
    EXPECT_TRUE(device->SessionHandle() == kNoSession && !device->RefreshNeeded());
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*device)), session);
    device->GATTSessionEstablish();  // adopts what the table still holds
    EXPECT_EQ(device->SessionHandle(), session);
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_TRUE(device->RefreshNeeded());
    Raise(session, 0x4242);
    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    EXPECT_FALSE(sessionsByAddress.Find(AddressOf(*device)));

    const std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].session, session + 100);
    EXPECT_TRUE(calls[1].slot == HostEvents::kDisconnected && calls[1].object == device.get());
    for (const Call& call : calls) {
        EXPECT_EQ(call.context, Context());
        EXPECT_NE(call.thread, std::this_thread::get_id());
    }
    Lines records;
    for (const char* event : {"4144", "4160", "4160", "4656", "16962", "4128"}) {
        records.push_back(std::string("I BLE_STRING BleDevice::OnDeviceCallback: OnDeviceCallback "
                                      "happened event:") +
                          event);
    }
    ExpectRecords(records);
}

// The stack keeps a lost link's session callback until that handle is
// closed, which the device, having forgotten the handle, never does: the
// device must outlive its closes and the host's reference.
TEST_F(Session, ALostLinksDeviceStaysAliveForTheStacksLateEvents) {
    const TestDevice test = AddDevice();
    auto device = Open(test);  // no events object: nobody is told
    const std::uint64_t session = device->SessionHandle();
    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(device->SessionHandle(), kNoSession);
    EXPECT_EQ(sessionsByAddress.Size(), 0u);
    device->GATTSessionClose();
    device->GATTSessionEstablish();
    LeSimFlushEvents();
    device->GATTSessionClose();
    device.reset();
    const LeSessionClosedEvent closed{session};
    Raise(session, LEAPI_EVENT_SESSION_CLOSED, &closed, sizeof closed);
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
}

}  // namespace
