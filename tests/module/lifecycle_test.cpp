// Provider construction and destruction against the simulated stack: the
// calls it makes and the records it writes.
#include <tuple>

#include "fixture.h"

// A provider initialises the stack unless that fails ("already initialised"
// by an earlier provider counts as success), and only an initialised one
// uninitialises it; a failure there ("not initialised": another provider
// went first) is logged and stays inside the destructor.
TEST(Lifecycle, OnlyAnInitialisedProviderUninitialisesAndAFailureStaysInside) {
    const std::string made = "I BLE_STRING NoxBleProvider::NoxBleProvider: ";
    const std::string gone = "I BLE_STRING NoxBleProvider::~NoxBleProvider: ";
    const std::string ok = "Initialize succeed or provider already exists";
    // The codes of the two calls, whether the provider initialised the stack,
    // and the destructor's second record.
    const std::tuple<std::uint32_t, std::uint32_t, bool, std::string> rows[] = {
        {0, 0, true, gone + "Uninitialization succeed"},
        {LEAPI_ERROR_NOT_PERMITTED, 0, false, gone + "provider already Uninitialized"},
        {LEAPI_ALREADY_INITIALIZED, LEAPI_ERROR_NOT_INITIALIZED, true,
         CheckRecord(LEAPI_ERROR_NOT_INITIALIZED, "LEAPI_Uninitialize")},
    };
    for (const auto& [initialize, uninitialize, initialised, last] : rows) {
        LeSimReset();
        Trace trace;
        LeSimScript("LEAPI_Initialize", initialize, 1);
        auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
        EXPECT_EQ(provider->StackInitialised(), initialised);
        LeSimRaiseStackEvent(LEAPI_EVENT_RADIO_STATE, nullptr, 0);  // changes nothing
        LeSimFlushEvents();
        LeSimScript("LEAPI_Uninitialize", uninitialize, 1);
        provider.reset();
        EXPECT_EQ(JournalNames(), (initialised ? Lines{"LEAPI_Initialize", "LEAPI_Uninitialize"}
                                               : Lines{"LEAPI_Initialize"}));
        const Lines records = {made + "start constructing NoxBleProvider",
                               made + (initialised ? ok : "initialize failed"),
                               gone + "start destruct NoxBleProvider", last};
        EXPECT_EQ(trace.Of(), Trace::Available() ? records : Lines{});
    }
}
