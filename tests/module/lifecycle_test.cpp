// Provider construction and destruction against the simulated stack.
#include <gtest/gtest.h>

#include <leapi/leapi.h>
#include <leapisim/leapisim.h>
#include <noxb/Exceptions.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "stackjournal.h"

namespace {

using Names = std::vector<std::string>;

class Lifecycle : public testing::Test {
  protected:
    void SetUp() override { LeSimReset(); }
    void TearDown() override { LeSimReset(); }
};

TEST_F(Lifecycle, InitializeHandsTheStackTheWrapperAndItsCallback) {
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_TRUE(provider->StackInitialised());
    const std::vector<LeSimCall> calls = StackJournal();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].function, "LEAPI_Initialize");
    EXPECT_EQ(calls[0].result, 0u);
    ASSERT_EQ(calls[0].argCount, 3u);
    const LeCallback callback = LeStackApi::OnStackEvent;
    EXPECT_EQ(calls[0].args[0], reinterpret_cast<std::uintptr_t>(callback));
    EXPECT_EQ(calls[0].args[1], reinterpret_cast<std::uintptr_t>(provider->StackApi()));
    EXPECT_NE(calls[0].args[2], 0u);

    provider.reset();
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Uninitialize"}));
}

TEST_F(Lifecycle, AlreadyInitialisedCountsAsInitialised) {
    LeSimScript("LEAPI_Initialize", LEAPI_ALREADY_INITIALIZED, 1);
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_TRUE(provider->StackInitialised());
    provider.reset();
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Uninitialize"}));
}

TEST_F(Lifecycle, FailedInitialisationStillYieldsAProviderThatNeverUninitialises) {
    LeSimScript("LEAPI_Initialize", LEAPI_ERROR_NOT_PERMITTED, 1);
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_FALSE(provider->StackInitialised());
    EXPECT_TRUE(provider->Reserved7());
    provider.reset();
    EXPECT_EQ(StackCallNames(), Names{"LEAPI_Initialize"});
}

TEST_F(Lifecycle, FailedUninitialisationDoesNotLeaveTheDestructor) {
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    LeSimScript("LEAPI_Uninitialize", LEAPI_ERROR_NOT_INITIALIZED, 1);
    provider.reset();  // a throwing destructor would end the process here
    const std::vector<LeSimCall> calls = StackJournal();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].result, LEAPI_ERROR_NOT_INITIALIZED);
}

TEST_F(Lifecycle, EveryInitialisedProviderUninitialisesOnce) {
    auto first = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    auto second = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    EXPECT_TRUE(first->StackInitialised());
    EXPECT_TRUE(second->StackInitialised());
    first.reset();
    second.reset();
    const std::vector<LeSimCall> calls = StackJournal();
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Initialize", "LEAPI_Uninitialize",
                                       "LEAPI_Uninitialize"}));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].result, LEAPI_ALREADY_INITIALIZED);
    // The stack is gone after the first: the second fails, and is only logged.
    EXPECT_EQ(calls[2].result, 0u);
    EXPECT_EQ(calls[3].result, LEAPI_ERROR_NOT_INITIALIZED);
}

TEST_F(Lifecycle, StackWideEventsAreIgnored) {
    auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    const std::uint32_t radioState = 1;
    unsigned char device[14] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    const std::uint64_t before = LeSimDeliveredEventCount();
    EXPECT_EQ(LeSimRaiseStackEvent(LEAPI_EVENT_RADIO_STATE, &radioState, sizeof radioState), 0u);
    EXPECT_EQ(LeSimRaiseStackEvent(LEAPI_EVENT_DEVICE_PAIRED, device, sizeof device), 0u);
    EXPECT_EQ(LeSimRaiseStackEvent(LEAPI_EVENT_DEVICE_LOST, device, sizeof device), 0u);
    EXPECT_EQ(LeSimRaiseStackEvent(0x9999, nullptr, 0), 0u);
    LeSimFlushEvents();
    EXPECT_EQ(LeSimDeliveredEventCount() - before, 4u);
    provider.reset();
    EXPECT_EQ(StackCallNames(), (Names{"LEAPI_Initialize", "LEAPI_Uninitialize"}));
}

}  // namespace
