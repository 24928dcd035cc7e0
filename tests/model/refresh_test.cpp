// Service and characteristic discovery, subscriptions, the configuration
// descriptor, the look-ups, and the objects an earlier refresh replaced.
#include <cstring>

#include "modeltest.h"

namespace {

using namespace modeltest;

const std::string kStart = "RefreshServices start";
const std::string kStrat = "ServicesDiscovery strat";
const std::string kFailed = "RefreshServices failed to notify Characteristic";

void ExpectUuid(const LeSimCall& call, const LeUuid& uuid) {
    ASSERT_EQ(call.dataLength, sizeof uuid);
    EXPECT_EQ(std::memcmp(call.data, &uuid, sizeof uuid), 0) << call.function;
}

class Refresh : public ModelTest {};

TEST_F(Refresh, FindsTheDataCharacteristicSubscribesAndSwitchesNotificationsOn) {
    const TestDevice test = AddDevice();
    const auto device = Open(test);
    const std::uint64_t session = device->SessionHandle();
    device->RefreshServices();
    EXPECT_FALSE(device->RefreshNeeded());

    ASSERT_EQ(device->services.size(), 1u);
    const std::shared_ptr<BleService> service = device->services[0];
    EXPECT_EQ(service->device, device.get());
    ASSERT_EQ(service->characteristics.size(), 1u);
    BleCharacteristicInfo* info = service->characteristics[0].get();
    EXPECT_EQ(info->device, device.get());
    EXPECT_EQ(+info->characteristicRecord.valueHandle, test.valueHandle);
    EXPECT_EQ(+info->characteristic->value.handle, test.valueHandle);
    EXPECT_EQ(+info->characteristic->value.length, 0u);

    EXPECT_EQ(
        JournalNames(),
        (Names{
            "LEAPI_ServicesDiscoveryStartByUUID", "LEAPI_ServicesDiscoveryGetNext",
            "LEAPI_ServicesDiscoveryEnd", "LEAPI_CharacteristicsDiscoveryStartByUUID",
            "LEAPI_CharacteristicsDiscoveryGetNext", "LEAPI_CharacteristicsDiscoveryEnd",
            "LEAPI_CharacteristicNotificationSubscribe", "LEAPI_CharacteristicIndicationSubscribe",
            "LEAPI_CharacteristicDescriptorsDiscoveryStart",
            "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
            "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
            "LEAPI_CharacteristicDescriptorWrite", "LEAPI_CharacteristicDescriptorsDiscoveryEnd"}));
    const std::vector<LeSimCall> calls = Journal();
    ASSERT_EQ(calls.size(), 13u);
    EXPECT_EQ(calls[0].args[0], session);
    ExpectUuid(calls[0], DataServiceUuid());
    EXPECT_EQ(calls[3].args[1], +service->serviceRecord.firstHandle);
    EXPECT_EQ(calls[3].args[2], +service->serviceRecord.lastHandle);
    ExpectUuid(calls[3], DataCharacteristicUuid());
    const LeCallback callback = &BleCharacteristicInfo::OnCharacteristicCallback;
    for (int i : {6, 7}) {
        EXPECT_EQ(calls[i].result, 0u);
        EXPECT_EQ(calls[i].args[0], session);
        EXPECT_EQ(calls[i].args[1], test.valueHandle);
        EXPECT_EQ(calls[i].args[2], reinterpret_cast<std::uintptr_t>(callback));
        EXPECT_EQ(calls[i].args[3], reinterpret_cast<std::uintptr_t>(info));
    }
    EXPECT_EQ(calls[8].args[1], test.valueHandle);
    EXPECT_EQ(calls[8].args[2], +info->characteristicRecord.lastHandle);
    const std::uint16_t configuration = test.descriptorHandles[1];
    const std::uint8_t written[] = {static_cast<std::uint8_t>(configuration & 0xFF),
                                    static_cast<std::uint8_t>(configuration >> 8),
                                    2,
                                    0,
                                    1,
                                    0};
    ASSERT_EQ(calls[11].dataLength, sizeof written);
    EXPECT_EQ(std::memcmp(calls[11].data, written, sizeof written), 0);
    EXPECT_EQ(LeSimDescriptorValue(test.id, configuration), 1u);

    if (Trace::Available()) {
        const std::vector<Record> records = trace.Records();
        const Names modules = {"BLE_STRING", "BLE", "BLE", "BLE_STRING"};
        EXPECT_EQ(Messages(), (Names{kStart, kStrat, "SetDescriptor number_of_descriptors:2",
                                     "RefreshServices end"}));
        for (std::size_t i = 0; i < records.size() && i < modules.size(); ++i) {
            EXPECT_EQ(records[i].module, modules[i]);
            EXPECT_EQ(records[i].level, 0);
        }
    }

    // Up to date: the look-ups ask the stack nothing.
    Forget();
    EXPECT_EQ(device->FindService(), service);
    EXPECT_EQ(service->FindCharacteristic().get(), info);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Refresh, ADataServiceOfferedTwiceIsKeptTwiceAndOnlyTheFirstIsSearched) {
    DeviceSpec spec;
    spec.dataServices = 2;
    const auto device = Open(AddDevice(spec));
    device->RefreshServices();
    ASSERT_EQ(device->services.size(), 2u);
    EXPECT_EQ(device->services[0]->characteristics.size(), 1u);
    EXPECT_TRUE(device->services[1]->characteristics.empty());
    const std::vector<LeSimCall> starts = JournalOf("LEAPI_CharacteristicsDiscoveryStartByUUID");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].args[1], +device->services[0]->serviceRecord.firstHandle);
}

TEST_F(Refresh, EveryFailureIsReportedAsServiceNotFoundAndLeavesTheRefreshDue) {
    const auto check = [](std::uint32_t code, const char* at) { return CheckRecord(code, at); };
    struct Case {
        const char* what;
        int dataServices;
        bool dataCharacteristic;
        std::vector<LeUuid> descriptors;
        const char* script;
        std::uint32_t code;
        Names messages;
        const char* neverCalled;
    };
    const std::vector<LeUuid> usual = {Uuid16(0x2901), Uuid16(0x2902)};
    const Case cases[] = {
        {"no data service",
         0,
         true,
         usual,
         nullptr,
         0,
         {kStart, kStrat, "RefreshServices failed couldn't find the service in the device"},
         "LEAPI_CharacteristicsDiscoveryStartByUUID"},
        {"no data characteristic",
         1,
         false,
         usual,
         nullptr,
         0,
         {kStart, kStrat},
         "LEAPI_CharacteristicNotificationSubscribe"},
        {"no configuration descriptor",
         1,
         true,
         {Uuid16(0x2901), Uuid16(0x2904)},
         nullptr,
         0,
         {kStart, kStrat, "SetDescriptor number_of_descriptors:2",
          "SetDescriptor did  not find Descriptor", kFailed},
         "LEAPI_CharacteristicDescriptorWrite"},
        {"no descriptors",
         1,
         true,
         {},
         nullptr,
         0,
         {kStart, kStrat, "SetDescriptor number_of_descriptors:0", kFailed},
         "LEAPI_CharacteristicDescriptorsDiscoveryGetNext"},
        {"services start",
         1,
         true,
         usual,
         "LEAPI_ServicesDiscoveryStartByUUID",
         LEAPI_ERROR_INVALID_SESSION_HANDLE,
         {kStart, check(LEAPI_ERROR_INVALID_SESSION_HANDLE, "LEAPI_ServicesDiscoveryStartByUUID"),
          kFailed},
         "LEAPI_ServicesDiscoveryGetNext"},
        {"characteristic record",
         1,
         true,
         usual,
         "LEAPI_CharacteristicsDiscoveryGetNext",
         LEAPI_ERROR_NO_MORE_ITEMS,
         {kStart, kStrat, check(LEAPI_ERROR_NO_MORE_ITEMS, "LEAPI_CharacteristicsDiscoveryGetNext"),
          kFailed},
         "LEAPI_CharacteristicNotificationSubscribe"},
        {"notifications",
         1,
         true,
         usual,
         "LEAPI_CharacteristicNotificationSubscribe",
         LEAPI_ERROR_NOT_PERMITTED,
         {kStart, kStrat,
          check(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicNotificationSubscribe"), kFailed},
         "LEAPI_CharacteristicIndicationSubscribe"},
        {"indications",
         1,
         true,
         usual,
         "LEAPI_CharacteristicIndicationSubscribe",
         LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE,
         {kStart, kStrat,
          check(LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE, "LEAPI_CharacteristicIndicationSubscribe"),
          kFailed},
         "LEAPI_CharacteristicDescriptorsDiscoveryStart"},
        {"descriptor record",
         1,
         true,
         usual,
         "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
         LEAPI_ERROR_NO_MORE_ITEMS,
         {kStart, kStrat, "SetDescriptor number_of_descriptors:2",
          check(LEAPI_ERROR_NO_MORE_ITEMS, "LEAPI_CharacteristicDescriptorsDiscoveryGetNext"),
          kFailed},
         "LEAPI_CharacteristicDescriptorWrite"},
        {"descriptor write",
         1,
         true,
         usual,
         "LEAPI_CharacteristicDescriptorWrite",
         LEAPI_ERROR_NOT_PERMITTED,
         {kStart, kStrat, "SetDescriptor number_of_descriptors:2",
          check(LEAPI_ERROR_NOT_PERMITTED, "LEAPI_CharacteristicDescriptorWrite"), kFailed},
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Restart();
        DeviceSpec spec;
        spec.dataServices = c.dataServices;
        spec.dataCharacteristic = c.dataCharacteristic;
        spec.descriptors = c.descriptors;
        const auto device = Open(AddDevice(spec));
        if (c.script != nullptr) LeSimScript(c.script, c.code, 1);
        EXPECT_THROW(device->RefreshServices(),
                     noxb::BluetoothProvider::ProviderServiceNotFoundException);
        EXPECT_TRUE(device->RefreshNeeded());
        if (c.neverCalled != nullptr) {
            EXPECT_TRUE(JournalOf(c.neverCalled).empty());
        }
        if (!Trace::Available()) continue;
        EXPECT_EQ(Messages(), c.messages);
        const std::vector<Record> records = trace.Records();
        if (c.messages.size() > 2 && !records.empty()) {
            EXPECT_EQ(records.back().level, 2);
            EXPECT_EQ(records.back().module, "BLE");
        }
    }
}

TEST_F(Refresh, ASubscriptionTheCharacteristicDoesNotOfferIsNoFailure) {
    const std::uint8_t rw = LEAPI_PROP_READ | LEAPI_PROP_WRITE;
    const struct {
        std::uint8_t properties;
        std::uint32_t notify, indicate, subscriptions;
    } cases[] = {
        {rw | LEAPI_PROP_INDICATE, LEAPI_ERROR_NOT_OFFERED, 0, 1},
        {rw | LEAPI_PROP_NOTIFY, 0, LEAPI_ERROR_NOT_OFFERED, 1},
        {rw, LEAPI_ERROR_NOT_OFFERED, LEAPI_ERROR_NOT_OFFERED, 0},
    };
    for (const auto& c : cases) {
        Restart();
        DeviceSpec spec;
        spec.properties = c.properties;
        const TestDevice test = AddDevice(spec);
        const auto device = Open(test);
        EXPECT_NO_THROW(device->RefreshServices());
        EXPECT_FALSE(device->RefreshNeeded());
        EXPECT_EQ(JournalOf("LEAPI_CharacteristicNotificationSubscribe").at(0).result, c.notify);
        EXPECT_EQ(JournalOf("LEAPI_CharacteristicIndicationSubscribe").at(0).result, c.indicate);
        EXPECT_EQ(LeSimSubscriptionCount(device->SessionHandle()), c.subscriptions);
        EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[1]), 1u);
    }
}

TEST_F(Refresh, TheConfigurationDescriptorIsKnownByItsFirstTwoValueBytes) {
    LeUuid wide{LEAPI_UUID_TYPE_128,
                {0x02, 0x29, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB,
                 0x00, 0x00}};
    DeviceSpec spec;
    spec.descriptors = {Uuid16(0x0229), wide, Uuid16(0x2902)};
    const TestDevice test = AddDevice(spec);
    const auto device = Open(test);
    device->RefreshServices();
    EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[0]), 0u);
    EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[1]), 1u);
    EXPECT_EQ(LeSimDescriptorValue(test.id, test.descriptorHandles[2]), 0u);
    // Later descriptors are not read.
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
    EXPECT_EQ(JournalOf("LEAPI_ServicesDiscoveryEnd").size(), 1u);
}

TEST_F(Refresh, FindServiceRefreshesFirstWhenTheServicesMayHaveChanged) {
    const auto device = Open(AddDevice());
    const std::uint64_t session = device->SessionHandle();
    const auto refreshes = [] { return JournalOf("LEAPI_ServicesDiscoveryStartByUUID").size(); };
    EXPECT_TRUE(device->RefreshNeeded());  // a new device
    const std::shared_ptr<BleService> service = device->FindService();
    EXPECT_EQ(refreshes(), 1u);
    EXPECT_EQ(device->FindService(), service);
    EXPECT_EQ(refreshes(), 1u);

    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    EXPECT_NE(device->FindService(), service);
    EXPECT_EQ(refreshes(), 2u);
    EXPECT_FALSE(device->RefreshNeeded());

    Raise(session, LEAPI_EVENT_SERVICES_CHANGED);
    LeSimScript("LEAPI_ServicesDiscoveryStartByUUID", LEAPI_ERROR_NOT_PERMITTED, 1);
    EXPECT_THROW(device->FindService(), noxb::BluetoothProvider::ProviderServiceNotFoundException);
    EXPECT_TRUE(device->RefreshNeeded());
}

TEST_F(Refresh, LookupsThatFindNothingThrowWithoutRecords) {
    const auto device = BleDevice::Create(AddDevice().record, nullptr, Context());
    device->refreshNeeded = false;  // no session: nothing else touches it
    using NotFound = noxb::BluetoothProvider::ProviderServiceNotFoundException;
    EXPECT_THROW(device->FindService(), NotFound);
    device->services.push_back(
        std::make_shared<BleService>(device.get(), LeServiceRecord{Uuid16(0x1800), 1, 5}));
    LeServiceRecord data{DataServiceUuid(), 6, 9};
    data.uuid.value[0] = 0x27;  // bytes swapped
    data.uuid.value[1] = 0x11;
    device->services.push_back(std::make_shared<BleService>(device.get(), data));
    EXPECT_THROW(device->FindService(), NotFound);
    // A 16-bit UUID compares its first two value bytes only.
    data.uuid = DataServiceUuid();
    data.uuid.value[9] = 0x55;
    device->services.push_back(std::make_shared<BleService>(device.get(), data));
    const std::shared_ptr<BleService> service = device->FindService();
    EXPECT_EQ(service, device->services[2]);

    EXPECT_THROW(service->FindCharacteristic(), NotFound);
    LeCharacteristicRecord near{DataCharacteristicUuid(), 0, 7, 8};
    near.uuid.value[15] ^= 1;
    service->characteristics.push_back(std::make_shared<BleCharacteristicInfo>(near, device.get()));
    LeCharacteristicRecord narrow{DataCharacteristicUuid(), 0, 7, 8};
    narrow.uuid.type = LEAPI_UUID_TYPE_16;
    service->characteristics.push_back(
        std::make_shared<BleCharacteristicInfo>(narrow, device.get()));
    EXPECT_THROW(service->FindCharacteristic(), NotFound);
    service->characteristics.push_back(std::make_shared<BleCharacteristicInfo>(
        LeCharacteristicRecord{DataCharacteristicUuid(), 0, 7, 8}, device.get()));
    EXPECT_EQ(service->FindCharacteristic(), service->characteristics[2]);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(Messages().empty());
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
    ASSERT_EQ(LeSimSubscriptionCount(session), 4u);

    // Both refreshes' subscriptions still deliver: the first's objects are
    // retired, not destroyed.
    const std::uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 3), 4u);
    LeSimFlushEvents();
    const std::vector<HostCall> calls = host.Calls();
    ASSERT_EQ(calls.size(), 4u);
    int toFirst = 0;
    for (const HostCall& call : calls) toFirst += call.object == first ? 1 : 0;
    EXPECT_EQ(toFirst, 2);
    EXPECT_EQ(first->characteristic->TakeNotifications(), std::string("\1\2\3\1\2\3", 6));
    EXPECT_EQ(second->characteristic->TakeNotifications(), std::string("\1\2\3\1\2\3", 6));

    // What the stack queued before the close is delivered or dropped by then;
    // nothing comes after it.
    for (int i = 0; i < 50; ++i) LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 3);
    device->GATTSessionClose();
    const std::size_t delivered = host.Calls().size();
    LeSimFlushEvents();
    EXPECT_EQ(host.Calls().size(), delivered);
    EXPECT_EQ(LeSimRaiseValueEvent(session, test.valueHandle, 3, 0, bytes, 3), 0u);
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
