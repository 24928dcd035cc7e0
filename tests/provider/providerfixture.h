// White-box fixture: a world with one phone (an echoing data service), a
// provider without an events object, and the provider's trace records.
#ifndef NOXB_TESTS_PROVIDER_PROVIDERFIXTURE_H
#define NOXB_TESTS_PROVIDER_PROVIDERFIXTURE_H

#include <gtest/gtest.h>

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blegattwrapper/noxbleprovider.h"
#include "testworld.h"

using namespace testworld;
using Bytes = std::vector<std::uint8_t>;

class ProviderTest : public testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        phone = AddDevice();
        provider = std::make_unique<NoxBleProvider>(nullptr, nullptr);
    }
    void TearDown() override {
        provider.reset();
        LeSimReset();
    }

    // Scans, connects the phone and keeps its device; the journal and the
    // records start afresh after it.
    std::uint32_t ConnectPhone() {
        provider->Scan(0);
        const std::uint32_t handle = provider->Connect(EntryOf(phone));
        device = provider->FindBleDevice(handle);
        Settle();
        return handle;
    }

    // Waits for the stack's callbacks, then clears the journal and records.
    void Settle() {
        LeSimFlushEvents();
        LeSimJournalClear();
        trace.Clear();
    }

    // The handle Connect gives for a device object.
    static std::uint32_t HandleOf(const std::shared_ptr<BleDevice>& dev) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dev.get()));
    }

    // The records of the named functions (all when none are named), checked
    // where a trace session exists.
    void ExpectRecords(const Lines& expected, const std::vector<std::string>& functions = {}) {
        if (Trace::Available()) {
            EXPECT_EQ(trace.Of(functions), expected);
        }
    }

    Trace trace;
    TestDevice phone;
    std::unique_ptr<NoxBleProvider> provider;
    std::shared_ptr<BleDevice> device;  // the phone's, after ConnectPhone
};

#endif  // NOXB_TESTS_PROVIDER_PROVIDERFIXTURE_H
