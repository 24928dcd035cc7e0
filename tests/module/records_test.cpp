// The records the module itself writes: lifecycle and return-code checks.
#include <gtest/gtest.h>

#include <leapi/leapi.h>
#include <leapisim/leapisim.h>
#include <noxb/Exceptions.h>
#include <noxb/Trace.h>

#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/bleexception.h"
#include "blegattwrapper/noxbleprovider.h"
#include "tracecapture.h"

namespace {

using Texts = std::vector<std::string>;

class ModuleRecords : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        capture.Enable(0);
    }
    void TearDown() override { LeSimReset(); }

    // Constructs and destroys one provider; returns what it logged.
    std::vector<CapturedEvent> ProviderLifetime() {
        std::make_unique<NoxBleProvider>(nullptr, nullptr).reset();
        return capture.Events();
    }

    TraceCapture capture;
};

void ExpectLifecycleRecord(const CapturedEvent& event, const std::string& function) {
    EXPECT_EQ(event.descriptor.Id, noxb::trace::kEventInfo) << event.Message();
    EXPECT_EQ(event.Module(), "BLE_STRING") << event.Message();
    EXPECT_EQ(event.Function(), function) << event.Message();
    EXPECT_EQ(event.File(), "noxbleprovider.cpp") << event.Message();
}

TEST_F(ModuleRecords, ProviderWithInitialisedStack) {
    const std::vector<CapturedEvent> events = ProviderLifetime();
    ASSERT_EQ(
        capture.Messages(),
        (Texts{"start constructing NoxBleProvider", "Initialize succeed or provider already exists",
               "start destruct NoxBleProvider", "Uninitialization succeed"}));
    ExpectLifecycleRecord(events[0], "NoxBleProvider::NoxBleProvider");
    ExpectLifecycleRecord(events[1], "NoxBleProvider::NoxBleProvider");
    ExpectLifecycleRecord(events[2], "NoxBleProvider::~NoxBleProvider");
    ExpectLifecycleRecord(events[3], "NoxBleProvider::~NoxBleProvider");
    EXPECT_NE(events[0].Line(), events[1].Line());
}

TEST_F(ModuleRecords, ProviderWithStackAlreadyInitialised) {
    auto first = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    capture.Clear();
    auto second = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_EQ(capture.Messages(), (Texts{"start constructing NoxBleProvider",
                                         "Initialize succeed or provider already exists"}));
    // No count of providers: the first to go uninitialises the stack for both.
    capture.Clear();
    second.reset();
    first.reset();
    EXPECT_EQ(capture.Messages(),
              (Texts{"start destruct NoxBleProvider", "Uninitialization succeed",
                     "start destruct NoxBleProvider",
                     "CheckLeapiReturnCode error: -353763327 at LEAPI_Uninitialize"}));
}

TEST_F(ModuleRecords, ProviderWhoseInitialisationFailed) {
    LeSimScript("LEAPI_Initialize", LEAPI_ERROR_NOT_PERMITTED, 1);
    const std::vector<CapturedEvent> events = ProviderLifetime();
    ASSERT_EQ(capture.Messages(),
              (Texts{"start constructing NoxBleProvider", "initialize failed",
                     "start destruct NoxBleProvider", "provider already Uninitialized"}));
    ExpectLifecycleRecord(events[1], "NoxBleProvider::NoxBleProvider");
    ExpectLifecycleRecord(events[3], "NoxBleProvider::~NoxBleProvider");
}

TEST_F(ModuleRecords, ProviderWhoseUninitialisationFailed) {
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    LeSimScript("LEAPI_Uninitialize", LEAPI_ERROR_NOT_INITIALIZED, 1);
    provider.reset();
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(
        capture.Messages(),
        (Texts{"start constructing NoxBleProvider", "Initialize succeed or provider already exists",
               "start destruct NoxBleProvider",
               "CheckLeapiReturnCode error: -353763327 at LEAPI_Uninitialize"}));
    EXPECT_EQ(events[3].descriptor.Id, noxb::trace::kEventError);
    EXPECT_EQ(events[3].Module(), "BLE");
}

TEST_F(ModuleRecords, CheckLeapiReturnCodeLogsOnlyFailures) {
    CheckLeapiReturnCode(0, "LEAPI_CharacteristicReadLong");
    EXPECT_TRUE(capture.Events().empty());

    for (int code : {5, -1, static_cast<int>(LEAPI_ERROR_AGAIN)}) {
        EXPECT_THROW(CheckLeapiReturnCode(code, "LEAPI_CharacteristicReadLong"),
                     NoxBleProviderGeneralException);
    }
    const std::vector<CapturedEvent> events = capture.Events();
    ASSERT_EQ(capture.Messages(),
              (Texts{"CheckLeapiReturnCode error: 5 at LEAPI_CharacteristicReadLong",
                     "CheckLeapiReturnCode error: -1 at LEAPI_CharacteristicReadLong",
                     "CheckLeapiReturnCode error: -353763294 at LEAPI_CharacteristicReadLong"}));
    for (const CapturedEvent& event : events) {
        EXPECT_EQ(event.descriptor.Id, noxb::trace::kEventError);
        EXPECT_EQ(event.Module(), "BLE");
        EXPECT_EQ(event.Function(), "CheckLeapiReturnCode");
        EXPECT_EQ(event.File(), "bleexception.cpp");
    }
}

}  // namespace
