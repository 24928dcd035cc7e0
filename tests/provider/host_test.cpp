// The module as a host sees it: loaded at run time, providers from both
// exports, a failure caught by its exact type and the trace provider's
// registration. (The operations end to end through
// the exports are the C interface's and noxble's tests.)
#include <gtest/gtest.h>

#include <noxb/noxb.h>

#if !defined(_WIN32)
#include <etwshim/etwshim.h>
#endif

#include "moduleloader.h"
#include "testworld.h"

namespace {

using namespace testworld;

TEST(Host, ExportsMakeWorkingProvidersAFailureKeepsItsTypeAndTheTraceProviderComesAndGoes) {
    LeSimReset();
    LeSimLoadDefaultWorld();
    Trace trace;      // enabled before the module registers
    int context = 0;  // outlive the module, as a host's own objects do
    HostEvents events;
#if !defined(_WIN32)
    const std::uint32_t registered = EtwShimRegisteredCount();
#endif
    {
        LoadedModule module;
        ASSERT_TRUE(module.Loaded()) << module.Error();
#if !defined(_WIN32)
        EXPECT_EQ(EtwShimRegisteredCount(), registered);  // not before its first record
#endif
        std::unique_ptr<noxb::IBTProvider> plain(
            module.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName)());
        const Lines init = {"I BLE_STRING CreateBleGattInstance: BLE init"};
        // The provider's own records are the lifecycle test's.
        EXPECT_EQ(trace.Of({"CreateBleGattInstance"}), Trace::Available() ? init : Lines{});
        std::unique_ptr<noxb::IBTProvider> withEvents(
            module.Export<noxb::CreateBleGattInstanceWithEventsFn>(
                noxb::kCreateBleGattInstanceWithEventsName)(&context, &events));
        EXPECT_EQ(JournalNames(), (Lines{"LEAPI_Initialize", "LEAPI_Initialize"}));
        EXPECT_TRUE(plain->Reserved7());
        EXPECT_THROW(withEvents->Connect({L"Nobody", L"00:00:00:00:00:00", true, true}),
                     noxb::BluetoothProvider::ConnectionFailedException);
#if !defined(_WIN32)
        EXPECT_EQ(EtwShimRegisteredCount(), registered + 1);  // once for both
#endif
        withEvents->Connect(withEvents->Scan(0).at(0));  // the host is told, with its context
        LeSimFlushEvents();
        EXPECT_TRUE(!events.Calls().empty() && events.Calls()[0].context == &context);
    }  // the providers go before the module
    EXPECT_EQ(JournalOf("LEAPI_Uninitialize").size(), 2u);
#if !defined(_WIN32)
    EXPECT_EQ(EtwShimRegisteredCount(), registered);  // unregistered at unload
#endif
}

}  // namespace
