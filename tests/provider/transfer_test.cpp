// Send, Receive and GetRSSI: the road of one Send through a recovery, unknown
// handles, time-outs, rediscovery, and signal strength.
#include <algorithm>
#include <cstring>
#include <functional>

#include "providerfixture.h"

namespace {

class Transfer : public ProviderTest {};

TEST_F(Transfer, TheRoadOfOneSendThroughARecovery) {
    const std::uint32_t handle = ConnectPhone();
    const std::string h = std::to_string(handle);
    const Bytes data = {'r', 'o', 'a', 'd'};
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_INVALID_LENGTH, 1);
    const Timed send = TimedOutcome([&] { provider->Send(handle, data); });
    EXPECT_EQ(send.outcome, "none");
    EXPECT_GE(send.seconds, 0.9);  // one recovery pause
    EXPECT_LT(send.seconds, 3.0);

    const std::string failed = Code(LEAPI_ERROR_INVALID_LENGTH);
    // The failed write, the recovery's one refresh, the write again; the
    // session is neither closed nor reopened.
    EXPECT_EQ(
        CallsWithResults(),
        (Lines{"LEAPI_CharacteristicWriteLong=" + failed, "LEAPI_ServicesDiscoveryStartByUUID",
               "LEAPI_ServicesDiscoveryGetNext", "LEAPI_ServicesDiscoveryEnd",
               "LEAPI_CharacteristicsDiscoveryStartByUUID", "LEAPI_CharacteristicsDiscoveryGetNext",
               "LEAPI_CharacteristicsDiscoveryEnd", "LEAPI_CharacteristicNotificationSubscribe",
               "LEAPI_CharacteristicIndicationSubscribe",
               "LEAPI_CharacteristicDescriptorsDiscoveryStart",
               "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
               "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
               "LEAPI_CharacteristicDescriptorWrite", "LEAPI_CharacteristicDescriptorsDiscoveryEnd",
               "LEAPI_CharacteristicWriteLong"}));
    const LeSimCall write = JournalOf("LEAPI_CharacteristicWriteLong").at(1);
    EXPECT_EQ(write.args[0], device->SessionHandle());
    CharacteristicValue value{};
    std::memcpy(&value, write.data, std::min<std::size_t>(write.dataLength, sizeof value));
    EXPECT_EQ(Bytes(value.data, value.data + value.length), data);
    const std::string recovery = "I BLE_STRING BleDevice::RecoveryConnection: ";
    ExpectRecords(
        {"I BLE_STRING NoxBleProvider::Send: sending data by handle " + h,
         "I BLE_STRING NoxBleProvider::FindBleDevice: looking for BLE service by handle" + h,
         "E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " + failed +
             " at LEAPI_CharacteristicWriteLong",
         recovery + "Start Recovery Connection",
         recovery + "RefreshServices, attempt no. 0 sleep for 1 sec",
         "I BLE_STRING BleDevice::RefreshServices: RefreshServices start",
         "I BLE BleDevice::ServicesDiscovery: ServicesDiscovery strat",
         "I BLE BleCharacteristicInfo::SetDescriptor: SetDescriptor number_of_descriptors:2",
         "I BLE_STRING BleDevice::RefreshServices: RefreshServices end",
         recovery + "Refresg services done, resend the data ",
         "I BLE_STRING NoxBleProvider::Send: RecoveryConnection done, resend the data "});
    // The lock is free: another thread's Send runs at once.
    const Timed next = OnOtherThread([&] { provider->Send(handle, data); });
    EXPECT_EQ(next.outcome, "none");
    EXPECT_LT(next.seconds, 0.9);
}

TEST_F(Transfer, AnUnknownHandleFailsAfterThreeRecordsWithoutRecovery) {
    ConnectPhone();  // a connected device that nothing may touch
    Bytes data = {9};
    const struct {
        const char* opening;
        std::function<void()> op;
    } rows[] = {
        {"Send: sending data by handle 7",
         [&] {
             provider->Send(7, {1, 2});
         }},
        {"Receive: receiving data by handle 7", [&] { provider->Receive(7, 100, data); }},
    };
    for (const auto& row : rows) {
        trace.Clear();
        EXPECT_EQ(Outcome(row.op), "ServiceNotFound");
        ExpectRecords({std::string("I BLE_STRING NoxBleProvider::") + row.opening,
                       "I BLE_STRING NoxBleProvider::FindBleDevice: looking for BLE service "
                       "by handle7",
                       "E BLE NoxBleProvider::FindBleDevice: didn't found BLE service"});
    }
    EXPECT_EQ(data, Bytes{9});
    EXPECT_EQ(CallsWithResults(), Lines{});
    EXPECT_EQ(OnOtherThread([&] { provider->GetRSSI(EntryOf(phone)); }).outcome, "none");
}

TEST_F(Transfer, ServicesChangedMakesTheNextTransferRediscoverFirst) {
    const std::uint32_t handle = ConnectPhone();
    Bytes data;
    const struct {
        const char* transfer;
        std::function<void()> op;
    } rows[] = {
        {"LEAPI_CharacteristicWriteLong", [&] { provider->Send(handle, {5}); }},
        {"LEAPI_CharacteristicReadLong", [&] { provider->Receive(handle, 0, data); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.transfer);
        LeSimRaiseDeviceEvent(device->SessionHandle(), LEAPI_EVENT_SERVICES_CHANGED, nullptr, 0);
        Settle();
        EXPECT_TRUE(device->RefreshNeeded());
        row.op();
        const Lines calls = CallsWithResults();
        EXPECT_EQ(calls.front(), "LEAPI_ServicesDiscoveryStartByUUID");
        EXPECT_EQ(calls.back(), row.transfer);
        EXPECT_EQ(JournalOf("LEAPI_CharacteristicDescriptorWrite").size(), 1u);
        EXPECT_FALSE(device->RefreshNeeded());
        ExpectRecords({}, {"BleDevice::RecoveryConnection"});
    }
    EXPECT_EQ(data, Bytes{5});
}

TEST_F(Transfer, AfterARecoveryTheRepeatedTransferHasTheLastWord) {
    const std::uint32_t handle = ConnectPhone();
    // Send: the repeated write fails too; its exception reaches the host.
    LeSimScript("LEAPI_CharacteristicWriteLong", LEAPI_ERROR_NOT_PERMITTED, 2);
    EXPECT_EQ(Outcome([&] { provider->Send(handle, {1}); }), General(LEAPI_ERROR_NOT_PERMITTED));
    EXPECT_EQ(JournalOf("LEAPI_CharacteristicWriteLong").size(), 2u);
    // Receive: the repeated read gets the caller's vector and succeeds.
    provider->Send(handle, {'o', 'k'});
    Settle();
    LeSimScript("LEAPI_CharacteristicReadLong", LEAPI_ERROR_NOT_PERMITTED, 1);
    Bytes data = {7};
    EXPECT_EQ(Outcome([&] { provider->Receive(handle, 1000, data); }), "none");
    EXPECT_EQ(data, (Bytes{'o', 'k'}));
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of({"NoxBleProvider::Receive"}).back(),
                  "I BLE_STRING NoxBleProvider::Receive: RecoveryConnection done, read the data ");
    }
    // Nothing more arrives within the time-out: an empty vector, no exception.
    const Timed empty = TimedOutcome([&] { provider->Receive(handle, 300, data); });
    EXPECT_EQ(empty.outcome, "none");
    EXPECT_TRUE(data.empty());
    EXPECT_GE(empty.seconds, 0.25);
}

TEST_F(Transfer, GetRSSIWithoutSessionOrRegistryDeviceFailsToConnect) {
    DeviceSpec spec;
    spec.lastAddressByte = 2;
    spec.name = "Tablet";
    const TestDevice tablet = AddDevice(spec);
    const auto expectNoDevice = [&](const TestDevice& which, const std::string& name,
                                    const char* situation) {
        SCOPED_TRACE(situation);
        Settle();
        EXPECT_EQ(Outcome([&] { provider->GetRSSI(EntryOf(which)); }), "ConnectionFailed");
        EXPECT_EQ(CallsWithResults(), Lines{});
        ExpectRecords({"I BLE_STRING NoxBleProvider::GetRSSI: retrieving RSSI from device " + name,
                       "E BLE NoxBleProvider::GetRSSI: connection to device failed, "
                       "couldn't find device"},
                      {"NoxBleProvider::GetRSSI"});
    };
    provider->Disconnect(ConnectPhone());
    expectNoDevice(phone, "Phone", "session closed");
    // A later scan registers a new object, without a session, for the same phone.
    const std::uint32_t handle = ConnectPhone();
    provider->Scan(0);
    expectNoDevice(phone, "Phone", "connected through the object of an earlier scan");
    provider->Disconnect(handle);
    LeSimRemoveDevice(tablet.id);
    provider->Scan(0);
    expectNoDevice(tablet, "Tablet", "no longer in the registry");
}

}  // namespace
