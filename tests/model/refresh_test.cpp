// Service and characteristic discovery, subscriptions, the configuration
// descriptor, the look-ups, and the objects an earlier refresh replaced.
#include <algorithm>
#include <cstring>

#include "modeltest.h"

namespace {

using namespace modeltest;

const std::string kStart = "I BLE_STRING BleDevice::RefreshServices: RefreshServices start";
const std::string kStrat = "I BLE BleDevice::ServicesDiscovery: ServicesDiscovery strat";
const std::string kCount =
    "I BLE BleCharacteristicInfo::SetDescriptor: SetDescriptor "
    "number_of_descriptors:";
const std::string kFailed =
    "E BLE BleDevice::RefreshServices: RefreshServices failed to notify Characteristic";

class Refresh : public ModelTest {};

// The stack calls of a refresh in their order are the road of one Send in
// the provider tests.
TEST_F(Refresh, FindsTheDataCharacteristicSubscribesAndSwitchesNotificationsOn) {
    const TestDevice test = AddDevice();
    const auto device = Open(test);
    const std::uint64_t session = device->SessionHandle();
    EXPECT_TRUE(device->RefreshNeeded());  // a new device: the first look-up refreshes
    const std::shared_ptr<BleService> service = device->FindService();
    EXPECT_FALSE(device->RefreshNeeded());
    ASSERT_EQ(device->services.size(), 1u);
    ASSERT_EQ(service->characteristics.size(), 1u);
    BleCharacteristicInfo* info = service->characteristics[0].get();
    EXPECT_TRUE(service->device == device.get() && info->device == device.get());
    EXPECT_EQ(+info->characteristic->value.handle, test.valueHandle);

    // Subscribed with the characteristic as context, both kinds.
    for (const char* kind :
         {"LEAPI_CharacteristicNotificationSubscribe", "LEAPI_CharacteristicIndicationSubscribe"}) {
        const LeSimCall subscribe = JournalOf(kind).at(0);
        EXPECT_TRUE(subscribe.args[0] == session && subscribe.args[1] == test.valueHandle);
        EXPECT_EQ(subscribe.args[3], reinterpret_cast<std::uintptr_t>(info));
    }
    const std::uint16_t configuration = test.descriptorHandles[1];
    EXPECT_EQ(LeSimDescriptorValue(test.id, configuration), 1u);
    ExpectRecords({kStart, kStrat, kCount + "2",
                   "I BLE_STRING BleDevice::RefreshServices: RefreshServices end"});
    // Up to date: the look-ups ask the stack nothing.
    Forget();
    EXPECT_EQ(device->FindService(), service);
    EXPECT_EQ(service->FindCharacteristic().get(), info);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(trace.Messages().empty());
}

TEST_F(Refresh, ADataServiceOfferedTwiceIsKeptTwiceAndOnlyTheFirstIsSearched) {
    DeviceSpec spec;
    spec.dataServices = 2;
    const auto device = Open(AddDevice(spec));
    device->RefreshServices();
    ASSERT_EQ(device->services.size(), 2u);
    EXPECT_EQ(device->services[0]->characteristics.size(), 1u);
    EXPECT_TRUE(device->services[1]->characteristics.empty());
    EXPECT_EQ(JournalOf("LEAPI_CharacteristicsDiscoveryStartByUUID").size(), 1u);
}

TEST_F(Refresh, EveryFailureIsReportedAsServiceNotFoundAndLeavesTheRefreshDue) {
    const std::string check;  // the record of the failed call's check
    const std::string noService =
        "E BLE BleDevice::RefreshServices: RefreshServices failed couldn't find the service in "
        "the device";
    const std::string noConfiguration =
        "I BLE BleCharacteristicInfo::SetDescriptor: SetDescriptor did  not find Descriptor";
    const std::vector<LeUuid> usual = {Uuid16(0x2901), Uuid16(0x2902)};
    const std::vector<LeUuid> other = {Uuid16(0x2901), Uuid16(0x2904)};
    const Lines afterCheck = {kStart, kStrat, check, kFailed};
    const struct {
        int dataServices;
        bool dataCharacteristic;
        std::vector<LeUuid> descriptors;
        const char* failing;  // a stack call answering kCode
        Lines records;
    } cases[] = {
        {0, true, usual, nullptr, {kStart, kStrat, noService}},
        {1, false, usual, nullptr, {kStart, kStrat}},
        {1, true, other, nullptr, {kStart, kStrat, kCount + "2", noConfiguration, kFailed}},
        {1, true, {}, nullptr, {kStart, kStrat, kCount + "0", kFailed}},
        {1, true, usual, "LEAPI_ServicesDiscoveryStartByUUID", {kStart, check, kFailed}},
        {1, true, usual, "LEAPI_CharacteristicsDiscoveryGetNext", afterCheck},
        {1, true, usual, "LEAPI_CharacteristicNotificationSubscribe", afterCheck},
        {1,
         true,
         usual,
         "LEAPI_CharacteristicDescriptorWrite",
         {kStart, kStrat, kCount + "2", check, kFailed}},
    };
    const std::uint32_t kCode = LEAPI_ERROR_NOT_PERMITTED;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Restart();
        DeviceSpec spec;
        spec.dataServices = c.dataServices;
        spec.dataCharacteristic = c.dataCharacteristic;
        spec.descriptors = c.descriptors;
        const auto device = Open(AddDevice(spec));
        if (c.failing != nullptr) LeSimScript(c.failing, kCode, 1);
        EXPECT_THROW(device->RefreshServices(), NotFound);
        EXPECT_TRUE(device->RefreshNeeded());
        Lines expected = c.records;
        for (std::string& m : expected) m = m.empty() ? CheckRecord(kCode, c.failing) : m;
        ExpectRecords(expected);
    }
}

TEST_F(Refresh, ASubscriptionTheCharacteristicDoesNotOfferIsNoFailure) {
    const std::uint8_t rw = LEAPI_PROP_READ | LEAPI_PROP_WRITE;
    const struct {
        std::uint8_t properties;
        std::uint32_t notify, indicate, subscriptions;
    } cases[] = {{rw | LEAPI_PROP_INDICATE, LEAPI_ERROR_NOT_OFFERED, 0, 1},
                 {rw | LEAPI_PROP_NOTIFY, 0, LEAPI_ERROR_NOT_OFFERED, 1},
                 {rw, LEAPI_ERROR_NOT_OFFERED, LEAPI_ERROR_NOT_OFFERED, 0}};
    for (const auto& c : cases) {
        Restart();
        DeviceSpec spec;
        spec.properties = c.properties;
        const TestDevice test = AddDevice(spec);
        const auto device = Open(test);
        EXPECT_NO_THROW(device->RefreshServices());
        EXPECT_EQ(JournalOf("LEAPI_CharacteristicNotificationSubscribe").at(0).result, c.notify);
        EXPECT_EQ(JournalOf("LEAPI_CharacteristicIndicationSubscribe").at(0).result, c.indicate);
        EXPECT_EQ(LeSimSubscriptionCount(device->SessionHandle()), c.subscriptions);
        EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[1]), 1u);
    }
}

TEST_F(Refresh, TheConfigurationDescriptorIsKnownByItsFirstTwoValueBytes) {
    const LeUuid wide{LEAPI_UUID_TYPE_128, {0x02, 0x29, 0, 0, 0x10, 0, 0x80, 0, 0, 0x80, 0x5F}};
    DeviceSpec spec;
    spec.descriptors = {Uuid16(0x0229), wide, Uuid16(0x2902)};
    const TestDevice test = AddDevice(spec);
    Open(test)->RefreshServices();
    for (int i : {0, 1, 2}) {
        EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[i]), i == 1 ? 1u : 0u);
    }
    EXPECT_EQ(JournalOf("LEAPI_CharacteristicDescriptorsDiscoveryGetNext").size(), 2u);
}

TEST_F(Refresh, AServiceRecordTheStackFailsToGiveOnlyShortensTheList) {
    DeviceSpec spec;
    spec.dataServices = 3;
    const auto device = Open(AddDevice(spec));
    LeSimScript("LEAPI_ServicesDiscoveryGetNext", 0, 1);
    LeSimScript("LEAPI_ServicesDiscoveryGetNext", LEAPI_ERROR_NO_MORE_ITEMS, 1);
    EXPECT_NO_THROW(device->RefreshServices());
    EXPECT_EQ(device->services.size(), 2u);
    EXPECT_EQ(JournalOf("LEAPI_ServicesDiscoveryGetNext").size(), 3u);
}

TEST_F(Refresh, LookupsCompareTheUuidsAndThrowWithoutRecordsWhenNothingMatches) {
    const auto device = BleDevice::Create(AddDevice().record, nullptr, Context());
    device->refreshNeeded = false;  // no session: nothing else touches it
    EXPECT_THROW(device->FindService(), NotFound);
    LeServiceRecord data{DataServiceUuid(), 6, 9};
    std::swap(data.uuid.value[0], data.uuid.value[1]);
    device->services.push_back(std::make_shared<BleService>(device.get(), data));
    data.uuid = DataServiceUuid();
    data.uuid.value[2] = 0x55;  // a 16-bit UUID compares two bytes only
    data.uuid.value[15] = 0x55;
    device->services.push_back(std::make_shared<BleService>(device.get(), data));
    const std::shared_ptr<BleService> service = device->FindService();
    EXPECT_EQ(service, device->services[1]);

    EXPECT_THROW(service->FindCharacteristic(), NotFound);
    for (int variant : {0, 1, 2}) {  // last byte off, type off, exact
        LeCharacteristicRecord r{DataCharacteristicUuid(), 0, 7, 8};
        if (variant == 0) r.uuid.value[15] ^= 1;
        if (variant == 1) r.uuid.type = LEAPI_UUID_TYPE_16;
        service->characteristics.push_back(
            std::make_shared<BleCharacteristicInfo>(r, device.get()));
    }
    EXPECT_EQ(service->FindCharacteristic(), service->characteristics[2]);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(trace.Messages().empty());
}

TEST_F(Refresh, ReplacedCharacteristicsLiveUntilTheSessionCloses) {
    const TestDevice test = AddDevice();
    const auto device = Open(test, &host);
    const std::uint64_t session = device->SessionHandle();
    device->RefreshServices();
    BleCharacteristicInfo* first = device->services[0]->characteristics[0].get();
    device->RefreshServices();
    BleCharacteristicInfo* second = device->services[0]->characteristics[0].get();
    ASSERT_NE(first, second);
    // Both refreshes' subscriptions still deliver: the first's objects are
    // retired, not destroyed.
    const std::uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 3), 4u);
    LeSimFlushEvents();
    const std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [&](auto& c) { return c.object == first; }),
              2);
    for (BleCharacteristicInfo* info : {first, second}) {
        EXPECT_EQ(info->characteristic->TakeNotifications(), std::string("\1\2\3\1\2\3", 6));
    }
    // Whatever the stack queued is delivered or dropped by the close; nothing
    // comes after it.
    for (int i = 0; i < 50; ++i) LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 3);
    device->GATTSessionClose();
    const std::size_t delivered = host.Calls().size();
    LeSimFlushEvents();
    EXPECT_EQ(host.Calls().size(), delivered);
}

// A close the stack refuses leaves its session open: whatever that session's
// callbacks name must stay alive, whoever lets go of the device.
TEST_F(Refresh, ARefusedCloseKeepsWhatTheOpenSessionStillCalls) {
    const TestDevice test = AddDevice();
    auto device = Open(test, &host);
    const std::uint64_t session = device->SessionHandle();
    device->RefreshServices();
    device->RefreshServices();
    LeSimScript("LEAPI_GATTSessionClose", LEAPI_ERROR_NOT_PERMITTED, 1);
    device->GATTSessionClose();
    ASSERT_EQ(LeSimSessionOf(test.id), session);
    device->GATTSessionClose();  // now without a session, which the stack rejects
    device.reset();
    const std::uint8_t bytes[] = {5};
    EXPECT_EQ(LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 1), 4u);
    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_TRUE(host.Calls().empty());  // the device has forgotten the session
}

}  // namespace
