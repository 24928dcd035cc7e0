// The loaded module's own trace records and its provider registration.
#include <gtest/gtest.h>

#include <etwshim/etwshim.h>
#include <leapisim/leapisim.h>
#include <noxb/noxb.h>

#include <memory>
#include <string>
#include <vector>

#include "moduleloader.h"
#include "tracecapture.h"

namespace {

using Texts = std::vector<std::string>;

class HostTrace : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        capture.Enable(0);
    }
    void TearDown() override { LeSimReset(); }

    TraceCapture capture;
};

TEST_F(HostTrace, ProviderIsRegisteredOnFirstUseAndUnregisteredAtUnload) {
    const uint32_t before = EtwShimRegisteredCount();
    {
        LoadedModule module;
        ASSERT_TRUE(module.Loaded()) << module.Error();
        EXPECT_EQ(EtwShimRegisteredCount(), before);
        auto create =
            module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
        delete create();
        EXPECT_EQ(EtwShimRegisteredCount(), before + 1);
        delete create();
        EXPECT_EQ(EtwShimRegisteredCount(), before + 1);
    }
    EXPECT_EQ(EtwShimRegisteredCount(), before);
}

TEST_F(HostTrace, CreateBleGattInstanceLogsBleInitFirst) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    auto create = module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
    delete create();
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(capture.Messages(),
              (Texts{"BLE init", "start constructing NoxBleProvider",
                     "Initialize succeed or provider already exists",
                     "start destruct NoxBleProvider", "Uninitialization succeed"}));
    EXPECT_EQ(events[0].descriptor.Id, noxb::trace::kEventInfo);
    EXPECT_EQ(events[0].Module(), "BLE_STRING");
    EXPECT_EQ(events[0].Function(), "CreateBleGattInstance");
    EXPECT_EQ(events[0].File(), "dllmain.cpp");
    EXPECT_EQ(events[1].File(), "noxbleprovider.cpp");
}

TEST_F(HostTrace, CreateBleGattInstanceWithEventsLogsNothingItself) {
    LoadedModule module;
    ASSERT_TRUE(module.Loaded()) << module.Error();
    auto create = module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
        noxb::kCreateBleGattInstanceWithEventsName);
    noxb::IBTProvider* provider = create(nullptr, nullptr);
    EXPECT_EQ(capture.Messages(), (Texts{"start constructing NoxBleProvider",
                                         "Initialize succeed or provider already exists"}));
    delete provider;
}

}  // namespace
