// A device's session, the stack's device and value events, the discovery of
// the data characteristic and what an earlier refresh or a refused close
// must keep alive: the device model below the provider's operations. (The
// stack's events racing the host's operations are the stress test's.)
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "fixture.h"

namespace {

class Device : public WorldTest {};

const std::string kStart = "I BLE_STRING BleDevice::RefreshServices: RefreshServices start";
const std::string kStrat = "I BLE BleDevice::ServicesDiscovery: ServicesDiscovery strat";
const std::string kCount =
    "I BLE BleCharacteristicInfo::SetDescriptor: SetDescriptor number_of_descriptors:";
const std::string kOnEvent =
    "I BLE_STRING BleDevice::OnDeviceCallback: OnDeviceCallback happened event:";
const std::string kFailed =
    "E BLE BleDevice::RefreshServices: RefreshServices failed to notify Characteristic";

TEST_F(Device, OpensKeepsAdoptsOrReportsASessionWithOneTableEntryPerAddress) {
    const auto a = Create(phone), b = Create(AddDevice({2}));
    a->GATTSessionEstablish();
    b->GATTSessionEstablish();
    const LeSimCall call = JournalOf("LEAPI_GATTSessionEstablishEx").at(0);
    EXPECT_TRUE(call.args[2] == reinterpret_cast<std::uintptr_t>(a.get()) && call.args[3] == 2 &&
                std::memcmp(call.data, &phone.record, sizeof phone.record) == 0 &&
                a->SessionHandle() == call.args[4] && a->SessionExtra() == call.args[5]);
    const std::uint64_t session = a->SessionHandle();
    Settle();
    a->GATTSessionEstablish();  // held: kept
    EXPECT_EQ(CallsWithResults(),
              Lines{"LEAPI_GATTSessionEstablishEx=" + Code(LEAPI_ERROR_SESSION_EXISTS)});
    const auto later = Create(phone);  // not held, but in the table: adopted
    later->GATTSessionEstablish();
    // Held for that session's callbacks too.
    EXPECT_TRUE(later->SessionHandle() == session && callbackHolders.Size() == 3u);
    EXPECT_TRUE(trace.Of().empty());
    sessionsByAddress.Erase(AddressOf(*a));  // neither
    const auto third = Create(phone);
    EXPECT_EQ(Outcome([&] { third->GATTSessionEstablish(); }), "General -353763303");
    ExpectRecords(
        {"E BLE BleDevice::GATTSessionEstablish: connection to device failed, couldn't "
         "establish session with device"});
    LeSimScript("LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_NOT_CONNECTABLE, 1);
    EXPECT_EQ(Outcome([&] { a->GATTSessionEstablish(); }), General(LEAPI_ERROR_NOT_CONNECTABLE));
    EXPECT_EQ(a->SessionHandle(), session);
    later->GATTSessionClose();  // lets go of what it adopted
    b->GATTSessionClose();      // drops only its own entry
    EXPECT_TRUE(sessionsByAddress.Size() == 0u && callbackHolders.Size() == 1u);
}

TEST_F(Device, EventsChangeTheSessionAndReachTheHostOnTheStacksThread) {
    const auto dev = Create(phone);
    dev->GATTSessionEstablish();
    const std::uint64_t session = dev->SessionHandle();
    dev->RefreshServices();
    Settle();
    const LeSessionEstablishedEvent established{session + 100, 9};
    Raise(session, LEAPI_EVENT_SESSION_ESTABLISHED, &established, sizeof established);
    EXPECT_TRUE(dev->SessionHandle() == session + 100 && dev->SessionExtra() == 9u);
    for (std::uint32_t event : {LEAPI_EVENT_SESSION_ESTABLISHED, LEAPI_EVENT_SESSION_CLOSED})
        Raise(session, event);  // without their records: nothing changes
    for (std::uint64_t closed : {session, session + 100}) {  // another handle, then its own
        Raise(session, LEAPI_EVENT_SESSION_CLOSED, &closed, sizeof closed);
        EXPECT_EQ(dev->SessionHandle(), closed == session ? session + 100 : kNoSession);
    }
    EXPECT_EQ(sessionsByAddress.Find(AddressOf(*dev)), session);
    dev->GATTSessionEstablish();  // adopts what the table still holds
    EXPECT_EQ(dev->SessionHandle(), session);
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_TRUE(dev->RefreshNeeded());
    Raise(session, 0x4242);
    ASSERT_EQ(LeSimDropSession(session), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(dev->SessionHandle(), kNoSession);
    const std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].session, session + 100);
    EXPECT_TRUE(calls[1].slot == HostEvents::kDisconnected && calls[1].object == dev.get());
    for (const Call& c : calls)
        EXPECT_TRUE(c.context == Context() && c.thread != std::this_thread::get_id());
    Lines records;
    for (const char* event : {"4144", "4144", "4160", "4160", "4160", "4656", "16962", "4128"})
        records.push_back(kOnEvent + event);
    ExpectRecords(records);
}

// The stack keeps a lost link's session callback until that handle is
// closed, which the device, having forgotten the handle, never does; a
// refused close leaves its session open, and so does the close of another
// handle an event named or of a session opened before the lost link's event
// came: what their callbacks name (the device, and the objects an earlier
// refresh replaced) must stay alive.
TEST_F(Device, WhatTheStacksLateCallbacksNameOutlivesTheHostsReferences) {
    enum Ending { kLost, kRefused, kRenamed, kReopened };
    for (const Ending ending : {kLost, kRefused, kRenamed, kReopened}) {
        SCOPED_TRACE(ending);
        const TestDevice test = AddDevice({static_cast<std::uint8_t>(5 + ending)});
        auto dev = Create(test);
        dev->GATTSessionEstablish();
        const std::uint64_t session = dev->SessionHandle();
        const LeSessionEstablishedEvent other{session + 100, 0};
        LeSimFlushEvents();
        dev->RefreshServices();
        dev->RefreshServices();
        if (ending == kLost) {
            ASSERT_EQ(LeSimDropSession(session), 0u);
            LeSimFlushEvents();
            EXPECT_EQ(sessionsByAddress.Size(), 0u);
        } else if (ending != kReopened) {
            if (ending == kRefused)
                LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_NOT_PERMITTED, 1);
            // Renamed: the close meets a handle the stack does not know.
            if (ending == kRenamed)
                Raise(session, LEAPI_EVENT_SESSION_ESTABLISHED, &other, sizeof other);
            dev->GATTSessionClose();
            ASSERT_EQ(LeSimSessionOf(test.id), session);
        } else {  // values and the lost link's event wait while another session opens and closes
            LeSimSetPumpedDelivery(1);
            EXPECT_EQ(LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, "v", 1), 4u);
            EXPECT_EQ(LeSimDropSession(session), 0u);
            dev->GATTSessionEstablish();
            dev->RefreshServices();
            dev->GATTSessionClose();
            LeSimSetPumpedDelivery(0);
            LeSimFlushEvents();
        }
        dev->GATTSessionClose();
        dev.reset();
        Settle();
        EXPECT_EQ(callbackHolders.Size(), ending + 1u);  // this device, and those before it
        const std::uint32_t queued = LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, "v", 1);
        // Both refreshes' subscriptions, both kinds, while the session is open.
        EXPECT_TRUE(queued == 4u || ending == kLost || ending == kReopened) << queued;
        Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
        const LeSessionClosedEvent closed{session};
        Raise(session, LEAPI_EVENT_SESSION_CLOSED, &closed, sizeof closed);
        EXPECT_TRUE(host.Calls().empty());  // the device has forgotten the session
    }
}

// Each row is a device of its own in one world. (Each call of a refresh
// failing in turn is the fault-injection test's; here one failure's records.)
TEST_F(Device, RefreshesOfOddDatabasesAndFailedCallsAsTheirRowsSay) {
    const std::uint8_t rw = LEAPI_PROP_READ | LEAPI_PROP_WRITE, all = DeviceSpec{}.properties;
    const std::vector<LeUuid> usual = DeviceSpec{}.descriptors;
    const LeUuid wide{LEAPI_UUID_TYPE_128, {0x02, 0x29, 0, 0, 0x10, 0, 0x80, 0, 0, 0x80, 0x5F}};
    const char* const write = "LEAPI_CharacteristicDescriptorWrite";
    const char* const next = "LEAPI_ServicesDiscoveryGetNext";  // its end after one record
    const std::uint32_t refused = LEAPI_ERROR_NOT_PERMITTED, end = LEAPI_ERROR_NO_MORE_ITEMS;
    const Lines noService = {
        "E BLE BleDevice::RefreshServices: RefreshServices failed couldn't "
        "find the service in the device"};
    const Lines noCfg = {
        kCount + "2",
        "I BLE BleCharacteristicInfo::SetDescriptor: SetDescriptor did  not find Descriptor",
        kFailed};
    const Lines writeFailed = {kCount + "2", CheckRecord(refused, write), kFailed};
    const struct {
        int dataServices;
        bool dataCharacteristic;
        std::uint8_t properties;
        std::vector<LeUuid> descriptors;
        const char* failing;  // a stack call answering `code`
        std::uint32_t code;
        const char* found;   // each service's number of characteristics; "": it throws
        Lines records = {};  // then: after the two each refresh starts with
        std::uint32_t subscriptions = 0;
    } rows[] = {
        {0, true, all, usual, nullptr, 0, "", noService},  // no data service
        {1, false, all, usual, nullptr, 0, ""},            // no characteristic
        {1, true, all, {Uuid16(0x2901), Uuid16(0x2904)}, nullptr, 0, "", noCfg},  // no 0x2902
        {1, true, all, {}, nullptr, 0, "", {kCount + "0", kFailed}},              // no descriptors
        {1, true, all, usual, write, refused, "", writeFailed},
        {2, true, all, usual, nullptr, 0, "10", {}, 2},  // offered twice
        {3, true, all, usual, next, end, "10", {}, 2},   // a service record not given
        {1, true, rw | LEAPI_PROP_INDICATE, usual, nullptr, 0, "1", {}, 1},
        {1, true, rw | LEAPI_PROP_NOTIFY, usual, nullptr, 0, "1", {}, 1},
        {1, true, rw, usual, nullptr, 0, "1", {}, 0},
        {1, true, all, {Uuid16(0x0229), wide, Uuid16(0x2902)}, nullptr, 0, "1", {}, 2},  // 2 bytes
    };
    std::uint8_t last = 10;
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        DeviceSpec spec{++last};
        std::tie(spec.dataServices, spec.dataCharacteristic, spec.properties, spec.descriptors) =
            std::tie(row.dataServices, row.dataCharacteristic, row.properties, row.descriptors);
        const TestDevice test = AddDevice(spec);
        const auto dev = Create(test);
        dev->GATTSessionEstablish();
        Settle();
        if (row.failing != nullptr) {
            LeSimScript(row.failing, 0, row.code == end);
            LeSimScript(row.failing, row.code, 1);
        }
        if (*row.found == '\0') {
            EXPECT_THROW(dev->RefreshServices(), NotFound);
            EXPECT_TRUE(dev->RefreshNeeded());
            Lines records = {kStart, kStrat};
            records.insert(records.end(), row.records.begin(), row.records.end());
            ExpectRecords(records);
            continue;
        }
        EXPECT_NO_THROW(dev->RefreshServices());
        std::string found;
        for (const auto& service : dev->services)
            found += std::to_string(service->characteristics.size());
        EXPECT_EQ(found, row.found);
        EXPECT_TRUE(JournalOf("LEAPI_CharacteristicsDiscoveryStartByUUID").size() == 1 &&
                    JournalOf("LEAPI_CharacteristicDescriptorsDiscoveryGetNext").size() == 2);
        EXPECT_EQ(LeSimSubscriptionCount(dev->SessionHandle()), row.subscriptions);
        for (std::size_t i = 0; i < test.descriptorHandles.size(); ++i) {  // the second one's
            EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[i]), i == 1 ? 1u : 0u);
        }
    }
}

TEST_F(Device, LookupsCompareTheUuidsAndThrowWithoutRecordsWhenNothingMatches) {
    const auto dev = Create(phone);
    dev->refreshNeeded = false;  // no session: nothing else touches it
    EXPECT_THROW(dev->FindService(), NotFound);
    LeServiceRecord data{DataServiceUuid(), 6, 9};
    std::swap(data.uuid.value[0], data.uuid.value[1]);
    dev->services.push_back(std::make_shared<BleService>(dev.get(), data));
    data.uuid = DataServiceUuid();
    data.uuid.value[2] = 0x55;  // a 16-bit UUID compares two bytes only
    data.uuid.value[15] = 0x55;
    dev->services.push_back(std::make_shared<BleService>(dev.get(), data));
    const std::shared_ptr<BleService> service = dev->FindService();
    EXPECT_EQ(service, dev->services[1]);
    EXPECT_THROW(service->FindCharacteristic(), NotFound);
    for (int variant : {0, 1, 2}) {  // last byte off, type off, exact
        LeCharacteristicRecord r{DataCharacteristicUuid(), 0, 7, 8};
        if (variant == 0) r.uuid.value[15] ^= 1;
        if (variant == 1) r.uuid.type = LEAPI_UUID_TYPE_16;
        service->characteristics.push_back(std::make_shared<BleCharacteristicInfo>(r, dev.get()));
    }
    EXPECT_EQ(service->FindCharacteristic(), service->characteristics[2]);
    EXPECT_TRUE(Journal().empty() && trace.Of().empty());
    const BleCharacteristic given(9, Bytes(600, 7));  // a holder made with a value keeps 512 bytes
    EXPECT_TRUE(given.value.handle == 9 && given.value.length == 512 && given.value.data[511] == 7);
}

// The first look-up refreshes; the characteristic collects values and tells
// the host by their own rules; what a later refresh replaces keeps
// delivering until the session's close lets go of it.
TEST_F(Device,
       ARefreshFindsAndSubscribesValueEventsAreCollectedAndReplacedOnesDeliverUntilTheClose) {
    const auto dev = Create(phone);
    dev->GATTSessionEstablish();
    const std::uint64_t session = dev->SessionHandle();
    Settle();
    const std::shared_ptr<BleService> service = dev->FindService();
    EXPECT_FALSE(dev->RefreshNeeded());
    ExpectRecords({kStart, "I BLE_STRING BleDevice::RefreshServices: RefreshServices end"},
                  {"BleDevice::RefreshServices"});
    ASSERT_TRUE(dev->services.size() == 1 && service->characteristics.size() == 1);
    BleCharacteristicInfo* first = service->characteristics[0].get();
    EXPECT_TRUE(service->device == dev.get() && first->device == dev.get() &&
                first->characteristic->value.handle == phone.valueHandle);
    for (const char* kind :
         {"LEAPI_CharacteristicNotificationSubscribe", "LEAPI_CharacteristicIndicationSubscribe"}) {
        const LeSimCall subscribe = JournalOf(kind).at(0);
        EXPECT_TRUE(subscribe.args[0] == session && subscribe.args[1] == phone.valueHandle &&
                    subscribe.args[3] == reinterpret_cast<std::uintptr_t>(first));
    }
    const LeSimCall write = JournalOf("LEAPI_CharacteristicDescriptorWrite").at(0);
    const std::uint16_t cccd = phone.descriptorHandles[1];
    EXPECT_EQ(Bytes(write.data, write.data + write.dataLength),
              (Bytes{static_cast<std::uint8_t>(cccd), static_cast<std::uint8_t>(cccd >> 8), 2, 0, 1,
                     0}));  // the handle, the length, notifications on
    Settle();
    EXPECT_TRUE(dev->FindService() == service && service->FindCharacteristic().get() == first);
    EXPECT_TRUE(Journal().empty() && trace.Of().empty());  // look-ups ask nothing
    // Each row: what the record's event code, session, value handle and flag
    // add to the right ones, whether the value is collected, whether the
    // host is told.
    const int rows[][6] = {
        {0, 0, 0, 0, 1, 1}, {0, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 1},
        {0, 0, 0, 1, 1, 0}, {1, 0, 0, 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        const LeValueEventHeader header{session + row[1], static_cast<std::uint8_t>(row[3]),
                                        static_cast<std::uint16_t>(phone.valueHandle + row[2]), 3};
        std::uint8_t record[sizeof header + 3] = {};
        std::memcpy(record, &header, sizeof header);
        std::memcpy(record + sizeof header, "abc", 3);
        ASSERT_EQ(LeSimRaiseRawValueEvent(session, phone.valueHandle,
                                          LEAPI_EVENT_CHARACTERISTIC_VALUE + row[0], record,
                                          sizeof record),
                  2u);  // to both kinds' subscriptions
        LeSimFlushEvents();
        EXPECT_EQ(first->characteristic->TakeNotifications(), row[4] ? "abcabc" : "");
        const std::vector<Call> calls = host.Calls();
        ASSERT_EQ(calls.size(), 2u * row[5]);
        for (const Call& c : calls)
            EXPECT_TRUE(c.slot == HostEvents::kData && c.object == first &&
                        c.context == Context() && c.thread != std::this_thread::get_id());
        host.Clear();
    }
    // The host may take the values on a thread of its own while more arrive
    // (the thread sanitizer's case: that thread never calls the stack).
    std::atomic<bool> stop{false};
    std::thread taker([&] {
        while (!stop) first->characteristic->TakeNotifications();
    });
    for (int i = 0; i < 200; ++i) LeSimRaiseValueEvent(session, phone.valueHandle, 1, 1, "x", 1);
    LeSimFlushEvents();
    stop = true;
    taker.join();
    first->characteristic->TakeNotifications();
    // Values add up; the host may take them inside its callback.
    LeSimRaiseValueEvent(session, phone.valueHandle, 1, 1, "abc", 3);
    host.take = true;
    LeSimRaiseValueEvent(session, phone.valueHandle, 1, 0, "de", 2);
    LeSimFlushEvents();
    ASSERT_EQ(host.Calls().size(), 1u);
    EXPECT_EQ(host.Calls()[0].bytes, "abcde");
    host.take = false;
    // A read empties what was collected and hands the stack the record of
    // the very holder the host reaches; a failed one leaves `out` as it was.
    LeSimRaiseValueEvent(session, phone.valueHandle, 1, 1, "ab", 2);
    Settle();
    Bytes out{1, 2, 3};
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(Outcome([&] { first->ReadLong(out, 1000); }), General(LEAPI_ERROR_NOT_PERMITTED));
    EXPECT_TRUE(out == (Bytes{1, 2, 3}) && first->characteristic->TakeNotifications().empty());
    EXPECT_EQ(Journal().at(0).args[2],
              reinterpret_cast<std::uintptr_t>(&first->characteristic->value));
    dev->RefreshServices();
    BleCharacteristicInfo* second = dev->services[0]->characteristics[0].get();
    ASSERT_NE(first, second);
    Settle();
    EXPECT_EQ(LeSimRaiseValueEvent(session, phone.valueHandle, 3, 0, "\1\2\3", 3), 4u);
    LeSimFlushEvents();
    const std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [&](auto& c) { return c.object == first; }),
              2);
    for (BleCharacteristicInfo* info : {first, second})
        EXPECT_EQ(info->characteristic->TakeNotifications(), std::string("\1\2\3\1\2\3", 6));
    for (int i = 0; i < 50; ++i) LeSimRaiseValueEvent(session, phone.valueHandle, 3, 0, "ab", 2);
    std::weak_ptr<BleService> replaced = dev->services[0];
    for (int next = 0; next < 2; ++next) {  // the next session's close lets go as well
        if (next == 1) {
            dev->GATTSessionEstablish();
            dev->RefreshServices();
            replaced = dev->services[0];
        }
        dev->RefreshServices();
        EXPECT_FALSE(replaced.expired());
        dev->GATTSessionClose();
        EXPECT_TRUE(replaced.expired());  // nothing calls it back any more
        const std::size_t delivered = host.Calls().size();
        LeSimFlushEvents();
        EXPECT_EQ(host.Calls().size(), delivered);
    }
}

}  // namespace
