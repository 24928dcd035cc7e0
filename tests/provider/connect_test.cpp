// Connect and Disconnect: finding the device, opening and completing the
// session, the service handle, and what each failure leaves behind.
#include <atomic>
#include <thread>

#include "blegattwrapper/sessiontable.h"
#include "providerfixture.h"

namespace {

class Connect : public ProviderTest {};
class Disconnect : public ProviderTest {};

const std::string kConnect = "I BLE_STRING NoxBleProvider::Connect: ";
const std::string kFind = "I BLE_STRING NoxBleProvider::FindBleDevice: find BLE decvice ";

TEST_F(Connect, LooksTheDeviceUpAndRescansOnlyWhenTheRegistryLacksIt) {
    const struct {
        const char *name, *address;
        bool scanFirst, found;
    } rows[] = {
        {"Phone", "a0:b1:c2:d3:e4:01", true, true},   // no rescan
        {"Phone", "a0:b1:c2:d3:e4:01", false, true},  // found by the rescan
        {"Ghost", "a0:b1:c2:d3:e4:09", true, false},  // not even then
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.scanFirst ? " scanned" : " not scanned"));
        provider.reset();  // before the next one initialises the stack
        provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
        if (row.scanFirst) provider->Scan(0);
        const auto before = provider->FindBleDevice(EntryOf(phone));
        Settle();
        const std::string name = row.name, address = row.address;
        std::uint32_t handle = 0;
        EXPECT_EQ(Outcome([&] {
                      handle = provider->Connect({std::wstring(name.begin(), name.end()),
                                                  std::wstring(address.begin(), address.end()),
                                                  true, true});
                  }),
                  row.found ? "none" : "ConnectionFailed");
        const bool rescan = !(row.scanFirst && row.found);
        const auto starts = JournalOf("LEAPI_DevicesDiscoveryStart");
        ASSERT_EQ(starts.size(), rescan ? 1u : 0u);
        if (rescan) {
            EXPECT_TRUE(starts[0].args[0] == 1 && starts[0].args[1] == 2);
        }
        EXPECT_EQ(JournalOf("LEAPI_GATTSessionEstablishEx").size(), row.found ? 1u : 0u);
        const std::string find = kFind + name + " in devices list by address";
        Lines expected = {
            kConnect + "connecting to device " + name + "via BLE service. Address: " + address,
            find};
        if (rescan) {
            expected.push_back(
                "I BLE_STRING NoxBleProvider::Scan: scan for ble devices using "
                "StackApi()->DevicesDiscovery . miliseconds count:0");
            expected.push_back(find);
        }
        expected.push_back(row.found
                               ? kConnect + "connection to device Phonevia BLE service succeed"
                               : "E BLE NoxBleProvider::Connect: connection to device "
                                 "failed, couldn't find device");
        ExpectRecords(expected, {"NoxBleProvider::Connect", "NoxBleProvider::FindBleDevice",
                                 "NoxBleProvider::Scan"});
        // A rescan rebuilds the registry with new device objects.
        const auto after = provider->FindBleDevice(EntryOf(phone));
        EXPECT_EQ(before == after, !rescan);
        if (row.found) {
            EXPECT_EQ(handle, HandleOf(after));
        }
    }
}

TEST_F(Connect, FailuresLeaveNoConnectionBehind) {
    const struct {
        const char* function;
        std::uint32_t code, count;
        std::string outcome;
        std::size_t closes;
        bool connected;
    } rows[] = {
        {"LEAPI_GATTSessionEstablishEx", LEAPI_ERROR_NOT_CONNECTABLE, 1,
         General(LEAPI_ERROR_NOT_CONNECTABLE), 0, false},
        // Refreshing fails twice: the session opened is closed again.
        {"LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 2, "ConnectionFailed", 1,
         false},
        // Once: the second refresh completes the connection.
        {"LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 1, "none", 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.function) + " x" + std::to_string(row.count));
        provider->Scan(0);
        const auto dev = provider->FindBleDevice(EntryOf(phone));
        Settle();
        LeSimScript(row.function, row.code, row.count);
        std::uint32_t handle = 0;
        EXPECT_EQ(Outcome([&] { handle = provider->Connect(EntryOf(phone)); }), row.outcome);
        EXPECT_EQ(JournalOf("LEAPI_GATTSessionClose").size(), row.closes);
        EXPECT_EQ(LeSimSessionCount(), row.connected ? 1u : 0u);
        EXPECT_EQ(dev->SessionHandle() != kNoSession, row.connected);
        if (Trace::Available()) {
            EXPECT_EQ(trace.Of({"NoxBleProvider::Connect"}).size(), row.connected ? 2u : 1u);
        }
        // Only a connected device is reached through its handle.
        EXPECT_EQ(Outcome([&] { provider->Send(HandleOf(dev), {1}); }),
                  row.connected ? "none" : "ServiceNotFound");
        if (row.connected) {
            EXPECT_EQ(handle, HandleOf(dev));
            provider->Disconnect(handle);
        }
    }
}

TEST_F(Connect, AndGetRSSITakeAnyNameAsPlainText) {
    DeviceSpec spec;
    spec.lastAddressByte = 3;
    spec.name = "Phone \xF0\x9F\x98\x80";  // U+1F600: a surrogate pair in the record
    const TestDevice smiling = AddDevice(spec);
    provider->Scan(0);
    EXPECT_EQ(Outcome([&] { provider->Connect(EntryOf(smiling)); }), "none");
    EXPECT_EQ(Outcome([&] { provider->GetRSSI(EntryOf(smiling)); }), "none");
    // Conversions in a host's text are not formatted.
    trace.Clear();
    EXPECT_EQ(Outcome([&] {
                  provider->GetRSSI({L"%s%n%s", L"%s:%n", true, true});
              }),
              "ConnectionFailed");
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of({"NoxBleProvider::GetRSSI"}).front(),
                  "I BLE_STRING NoxBleProvider::GetRSSI: retrieving RSSI from device %s%n%s");
    }
}

// Twice with one entry: one handle, one session. After a new scan: a second
// handle, and both work until each is disconnected.
TEST_F(Connect, TwiceKeepsOneHandleAndAfterANewScanGivesASecondOne) {
    const std::uint32_t first = ConnectPhone();
    const std::uint64_t session = device->SessionHandle();
    EXPECT_EQ(provider->Connect(EntryOf(phone)), first);
    // The stack already has the session: the device keeps it.
    EXPECT_EQ(CallsWithResults().front(),
              "LEAPI_GATTSessionEstablishEx=" + Code(LEAPI_ERROR_SESSION_EXISTS));
    EXPECT_TRUE(device->SessionHandle() == session && LeSimSessionCount() == 1);
    provider->Scan(0);
    // The new object adopts the session the stack has open and subscribes
    // its own objects on it.
    const std::uint32_t second = provider->Connect(EntryOf(phone));
    EXPECT_NE(first, second);
    Settle();
    for (const std::uint32_t handle : {first, second}) {
        EXPECT_EQ(Outcome([&] { provider->Send(handle, {2}); }), "none");
    }
    EXPECT_EQ(CallsWithResults(),
              (Lines{"LEAPI_CharacteristicWriteLong", "LEAPI_CharacteristicWriteLong"}));
    // The stack refuses the close: the session stays open, and its values
    // still reach the second object after a new scan let go of it.
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_EQ(Outcome([&] { provider->Disconnect(second); }), "none");
    EXPECT_EQ(Outcome([&] { provider->Send(second, {3}); }), "ServiceNotFound");
    provider->Scan(0);
    EXPECT_EQ(Outcome([&] { provider->Send(first, {3}); }), "none");
    LeSimFlushEvents();
    provider->Disconnect(first);
    EXPECT_EQ(Outcome([&] { provider->Send(first, {3}); }), "ServiceNotFound");
}

// Two providers in one process share the stack: the first one destroyed
// uninitialises it for both, yet lets go only of the devices it made, while
// values still arrive for both sessions.
TEST_F(Connect, TwoProvidersEachLetGoOfTheirOwnDevicesOnly) {
    DeviceSpec spec;
    spec.lastAddressByte = 2;
    spec.name = "Tablet";
    const TestDevice tablet = AddDevice(spec);
    ConnectPhone();
    auto second = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    second->Scan(0);
    const auto other = second->FindBleDevice(second->Connect(EntryOf(tablet)));
    ASSERT_EQ(callbackHolders.Size(), 2u);
    const std::uint64_t sessions[] = {device->SessionHandle(), other->SessionHandle()};
    const std::uint16_t handles[] = {phone.valueHandle, tablet.valueHandle};
    std::atomic<bool> stop{false};
    std::thread stack([&] {
        for (unsigned i = 0; !stop; ++i) {
            LeSimRaiseValueEvent(sessions[i & 1], handles[i & 1], 1, 0, "v", 1);
        }
    });
    device.reset();
    provider.reset();
    stop = true;
    stack.join();
    EXPECT_EQ(callbackHolders.Size(), 1u);  // the tablet, made by the second provider
    // The second provider's calls now meet a stack that is not initialised.
    EXPECT_EQ(Outcome([&] { second->Connect(EntryOf(tablet)); }),
              General(LEAPI_ERROR_NOT_INITIALIZED));
    second.reset();  // meets a stack already uninitialised
    EXPECT_EQ(callbackHolders.Size(), 0u);
}

TEST_F(Disconnect, ClosesTheSessionAndForgetsTheHandleAlsoAfterTheLinkWasLost) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "link lost" : "connected");
        const std::uint32_t handle = ConnectPhone();
        const std::uint64_t session = device->SessionHandle();
        if (lost) {
            LeSimDropSession(session);
            LeSimFlushEvents();
            EXPECT_EQ(device->SessionHandle(), kNoSession);
        }
        EXPECT_EQ(Outcome([&] { provider->Disconnect(handle); }), "none");
        const auto closes = JournalOf("LEAPI_GATTSessionClose");
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(closes[0].args[0], lost ? kNoSession : session);
        EXPECT_EQ(closes[0].result, lost ? LEAPI_ERROR_INVALID_SESSION_HANDLE : 0u);
        EXPECT_EQ(device->SessionHandle(), kNoSession);
        EXPECT_EQ(LeSimSessionCount(), 0u);
        Lines expected = {"I BLE_STRING NoxBleProvider::Disconnect: disconnecting service " +
                          std::to_string(handle)};
        if (lost) {
            expected.push_back(
                "E BLE BleDevice::GATTSessionClose: Failed close GATTSession with error "
                "LEAPI_ERROR_INVALID_SESSION_HANDLE");
        }
        ExpectRecords(expected, {"NoxBleProvider::Disconnect", "BleDevice::GATTSessionClose"});
        EXPECT_EQ(Outcome([&] { provider->Send(handle, {1}); }), "ServiceNotFound");
        if (lost) {
            // Nobody closed the lost session in the stack: its events still
            // reach the device after a new scan and this test let go of it.
            device.reset();
            provider->Scan(0);
            LeSimRaiseDeviceEvent(session, LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
            LeSimFlushEvents();
        }
    }
}

TEST_F(Disconnect, OfAHandleNotConnectedOnlyLogsAndTouchesNoDevice) {
    const std::uint32_t handle = ConnectPhone();
    provider->Disconnect(handle);
    Settle();
    Lines expected;
    for (const std::uint32_t unknown : {handle, 4294967295u}) {
        EXPECT_EQ(Outcome([&] { provider->Disconnect(unknown); }), "none");
        expected.push_back("I BLE_STRING NoxBleProvider::Disconnect: disconnecting service " +
                           std::to_string(unknown));
        expected.push_back("E BLE NoxBleProvider::Disconnect: didn't found BLE service");
    }
    EXPECT_EQ(CallsWithResults(), Lines{});
    ExpectRecords(expected);
}

}  // namespace
