// The module as a host sees it: loaded at run time, driven through its two
// exports and the provider interface, failures caught by exact type.
#include <gtest/gtest.h>

#include <leapisim/leapisim.h>
#include <noxb/noxb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "moduleloader.h"
#include "stackjournal.h"

namespace {

using Names = std::vector<std::string>;

class EventRecorder final : public IBleGattEvents {
  public:
    virtual ~EventRecorder() = default;
    void OnDeviceDisconnected(void*, BleDevice*) override { ++calls; }
    void OnCharacteristicData(void*, BleCharacteristicInfo*) override { ++calls; }
    void OnSessionEstablished(void*, std::uint64_t) override { ++calls; }
    int calls = 0;
};

class Host : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        ASSERT_TRUE(module.Loaded()) << module.Error();
        create = module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
        createWithEvents = module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
            noxb::kCreateBleGattInstanceWithEventsName);
        ASSERT_NE(create, nullptr);
        ASSERT_NE(createWithEvents, nullptr);
    }
    void TearDown() override { LeSimReset(); }

    LoadedModule module;
    noxb::CreateBleGattInstanceFn create = nullptr;
    noxb::CreateBleGattInstanceWithEventsFn createWithEvents = nullptr;
};

TEST_F(Host, BothExportsCreateProvidersThatInitialiseAndUninitialiseTheStack) {
    noxb::IBTProvider* plain = create();
    ASSERT_NE(plain, nullptr);
    EventRecorder events;
    int context = 0;
    noxb::IBTProvider* withEvents = createWithEvents(&context, &events);
    ASSERT_NE(withEvents, nullptr);
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Initialize"}));

    delete plain;
    delete withEvents;
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Initialize", "LEAPI_Uninitialize",
                                       "LEAPI_Uninitialize"}));
    EXPECT_EQ(events.calls, 0);
}

TEST_F(Host, SlotsWithoutBehaviourLeaveTheProviderAlone) {
    noxb::IBTProvider* provider = create();
    ASSERT_NE(provider, nullptr);
    LeSimJournalClear();
    int a = 1, b = 2, c = 3;
    EXPECT_TRUE(provider->Reserved7());
    provider->Reserved2();
    provider->Reserved9();
    provider->Reserved10(&a, &b, &c);
    provider->Reserved11(&a, &b, &c);
    provider->Reserved11(nullptr, nullptr, nullptr);
    provider->Reserved12();
    provider->Reserved13();
    provider->Reserved14();
    provider->Reserved15();
    EXPECT_TRUE(provider->Reserved7());
    EXPECT_EQ(StackCallNames(), Names{});
    delete provider;
}

TEST_F(Host, FailuresInsideTheModuleAreCaughtByExactType) {
    noxb::IBTProvider* provider = create();
    ASSERT_NE(provider, nullptr);
    const BleDeviceEntry device{L"Pixel 7", L"00:1a:7d:da:71:13", true, true};
    bool caught = false;
    try {
        provider->Connect(device);
    } catch (noxb::BluetoothProvider::ConnectionFailedException& e) {
        caught = true;
        EXPECT_STREQ(e.what(),
                     "Bluetooth Provider: Failed to establish connection with remote device.");
        EXPECT_EQ(e.ErrorType(), 5);
        EXPECT_EQ(e.nativeCode, 0);
    }
    EXPECT_TRUE(caught);

    // And as the family's base, the host's usual handler.
    std::vector<std::uint8_t> data;
    EXPECT_THROW(provider->Receive(0, 100, data),
                 noxb::BluetoothProvider::BluetoothProviderException);
    delete provider;
}

TEST_F(Host, StackFailuresReachTheHostWithTheirCode) {
    noxb::IBTProvider* provider = create();
    ASSERT_NE(provider, nullptr);
    LeSimScript("LEAPI_DevicesDiscoveryEnd", LEAPI_ERROR_INVALID_DISCOVERY_HANDLE, 1);
    bool caught = false;
    try {
        provider->Scan(0);
    } catch (NoxBleProviderGeneralException& e) {
        caught = true;
        EXPECT_STREQ(e.what(), "Bluetooth provider general exception");
        EXPECT_EQ(e.ErrorType(), 18);
        EXPECT_EQ(e.leapiCode, static_cast<std::int32_t>(LEAPI_ERROR_INVALID_DISCOVERY_HANDLE));
        EXPECT_EQ(e.nativeCode, e.leapiCode);
    }
    EXPECT_TRUE(caught);
    delete provider;
}

}  // namespace
