// Provider construction and destruction against the simulated stack: the
// calls it makes and the records it writes.
#include "fixture.h"

// A provider initialises the stack unless that fails ("already initialised"
// by an earlier provider counts as success), and only an initialised one
// uninitialises it; a failure there ("not initialised": another provider
// went first) is logged and stays inside the destructor.
TEST(Lifecycle, OnlyAnInitialisedProviderUninitialisesAndAFailureStaysInside) {
    const std::string made = "I BLE_STRING NoxBleProvider::NoxBleProvider: ";
    const std::string gone = "I BLE_STRING NoxBleProvider::~NoxBleProvider: ";
    const std::string ok = "Initialize succeed or provider already exists";
    const struct {
        std::uint32_t initialize, uninitialize;
        bool initialised;
        std::string gone;  // the destructor's second record
    } rows[] = {
        {0, 0, true, gone + "Uninitialization succeed"},
        {LEAPI_ERROR_NOT_PERMITTED, 0, false, gone + "provider already Uninitialized"},
        {LEAPI_ALREADY_INITIALIZED, LEAPI_ERROR_NOT_INITIALIZED, true,
         CheckRecord(LEAPI_ERROR_NOT_INITIALIZED, "LEAPI_Uninitialize")},
    };
    for (const auto& row : rows) {
        LeSimReset();
        Trace trace;
        LeSimScript("LEAPI_Initialize", row.initialize, 1);
        auto provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
        EXPECT_EQ(provider->StackInitialised(), row.initialised);
        LeSimRaiseStackEvent(LEAPI_EVENT_RADIO_STATE, nullptr, 0);  // changes nothing
        LeSimFlushEvents();
        LeSimScript("LEAPI_Uninitialize", row.uninitialize, 1);
        provider.reset();
        EXPECT_EQ(JournalNames(), (row.initialised ? Lines{"LEAPI_Initialize", "LEAPI_Uninitialize"}
                                                   : Lines{"LEAPI_Initialize"}));
        if (Trace::Available()) {
            EXPECT_EQ(trace.Of(), (Lines{made + "start constructing NoxBleProvider",
                                         made + (row.initialised ? ok : "initialize failed"),
                                         gone + "start destruct NoxBleProvider", row.gone}));
        }
    }
}
