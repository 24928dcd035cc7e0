// The module as a host sees it: loaded at run time, providers from both
// exports, their slots without behaviour, a failure caught by its exact type
// and the trace provider's registration. (The operations end to end through
// the exports are the C interface's and noxble's tests.)
#include <gtest/gtest.h>

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/noxb.h>

#include <cstdint>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <etwshim/etwshim.h>
#endif

#include "moduleloader.h"
#include "testworld.h"

namespace {

using namespace testworld;
using Bytes = std::vector<std::uint8_t>;

class Host : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        LeSimLoadDefaultWorld();
        ASSERT_TRUE(module.Loaded()) << module.Error();
        create = module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
        createWithEvents = module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
            noxb::kCreateBleGattInstanceWithEventsName);
        ASSERT_TRUE(create != nullptr && createWithEvents != nullptr);
    }
    void TearDown() override {
        delete provider;
        LeSimReset();
    }
    void CreateWithEvents() {
        provider = createWithEvents(&context, &events);
        ASSERT_NE(provider, nullptr);
    }

    // The scan's first-pass entry with this name.
    static BleDeviceEntry Found(const std::vector<BleDeviceEntry>& entries,
                                const std::wstring& name) {
        for (const BleDeviceEntry& entry : entries) {
            if (entry.name == name && entry.firstPass) return entry;
        }
        ADD_FAILURE() << "not found by the scan";
        return {};
    }

    Trace trace;  // enabled before the module registers
    LoadedModule module;
    noxb::CreateBleGattInstanceFn create = nullptr;
    noxb::CreateBleGattInstanceWithEventsFn createWithEvents = nullptr;
    int context = 0;  // its address is the host's context
    HostEvents events;
    noxb::IBTProvider* provider = nullptr;
};

TEST_F(Host, BothExportsMakeProvidersThatInitialiseAndUninitialiseTheStack) {
    noxb::IBTProvider* plain = create();
    ASSERT_NE(plain, nullptr);
    if (Trace::Available()) {
        const std::vector<Record> records = trace.Records();
        EXPECT_EQ(trace.Messages(), (Lines{"BLE init", "start constructing NoxBleProvider",
                                           "Initialize succeed or provider already exists"}));
        EXPECT_EQ(records.at(0).function + " " + records[0].file,
                  "CreateBleGattInstance dllmain.cpp");
    }
    trace.Clear();
    CreateWithEvents();
    if (Trace::Available()) {
        EXPECT_EQ(trace.Messages().at(0), "start constructing NoxBleProvider");
    }
    EXPECT_EQ(JournalNames(), (Lines{"LEAPI_Initialize", "LEAPI_Initialize"}));

    // Slots without behaviour leave the provider alone.
    LeSimJournalClear();
    int a = 1, b = 2, c = 3;
    EXPECT_TRUE(plain->Reserved7());
    plain->Reserved2();
    plain->Reserved9();
    plain->Reserved10(&a, &b, &c);
    plain->Reserved11(&a, &b, &c);
    plain->Reserved11(nullptr, nullptr, nullptr);
    plain->Reserved12();
    plain->Reserved13();
    plain->Reserved14();
    plain->Reserved15();
    EXPECT_EQ(JournalNames(), Lines{});

    // Without an events object the values of a connection are kept for Receive.
    const std::uint32_t handle = plain->Connect(Found(plain->Scan(0), L"Pixel 8"));
    plain->Send(handle, {1, 2});
    Bytes received;
    plain->Receive(handle, 1000, received);
    EXPECT_EQ(received, (Bytes{1, 2}));
    delete plain;
    EXPECT_EQ(JournalOf("LEAPI_Uninitialize").size(), 1u);
}

// Across the module's boundary a failure keeps its exact type, text and codes.
TEST_F(Host, AFailureReachesTheHostAsItsExactType) {
    CreateWithEvents();
    bool caught = false;
    try {
        provider->Connect({L"Nobody", L"00:00:00:00:00:00", true, true});
    } catch (noxb::BluetoothProvider::ConnectionFailedException& e) {
        caught = true;
        EXPECT_STREQ(e.what(),
                     "Bluetooth Provider: Failed to establish connection with remote device.");
        EXPECT_TRUE(e.ErrorType() == 5 && e.nativeCode == 0);
    }
    EXPECT_TRUE(caught);
}

#if !defined(_WIN32)
TEST(HostModule, RegistersItsTraceProviderOnFirstUseAndUnregistersAtUnload) {
    const std::uint32_t before = EtwShimRegisteredCount();
    {
        LoadedModule module;
        ASSERT_TRUE(module.Loaded()) << module.Error();
        EXPECT_EQ(EtwShimRegisteredCount(), before);
        auto create =
            module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
        delete create();
        delete create();
        EXPECT_EQ(EtwShimRegisteredCount(), before + 1);
    }
    EXPECT_EQ(EtwShimRegisteredCount(), before);
    LeSimReset();
}
#endif

}  // namespace
