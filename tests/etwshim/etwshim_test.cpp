// The trace shim as a provider and a trace session see it.
#include <etwshim/etwshim.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr GUID kProvider{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOther{0x87654321, 0x3333, 0x4444, {8, 7, 6, 5, 4, 3, 2, 1}};

struct EnableCall {
    uint32_t code;
    uint8_t level;
    uint64_t any;
    uint64_t all;
    void* context;
};

struct Written {
    GUID provider;
    EVENT_DESCRIPTOR descriptor;
    std::vector<std::string> fields;
};

std::vector<EnableCall> gEnableCalls;
std::vector<Written> gWritten;

void OnEnable(const GUID* id, uint32_t code, uint8_t level, uint64_t any, uint64_t all,
              const void* /*filter*/, void* context) {
    EXPECT_EQ(0, std::memcmp(id, &kProvider, sizeof(GUID)));
    gEnableCalls.push_back({code, level, any, all, context});
}

void Consume(const GUID* provider, const EVENT_DESCRIPTOR* descriptor, uint32_t count,
             const EVENT_DATA_DESCRIPTOR* data, void* context) {
    EXPECT_EQ(context, &gWritten);
    Written w{*provider, *descriptor, {}};
    for (uint32_t i = 0; i < count; ++i) {
        w.fields.emplace_back(reinterpret_cast<const char*>(data[i].Ptr), data[i].Size);
    }
    gWritten.push_back(w);
}

class EtwShim : public ::testing::Test {
  protected:
    void SetUp() override {
        gEnableCalls.clear();
        gWritten.clear();
        EtwShimSetConsumer(Consume, &gWritten);
    }
    void TearDown() override {
        EtwShimSetConsumer(nullptr, nullptr);
        EtwShimDisableProvider(&kProvider);
        if (handle != 0) EventUnregister(handle);
    }
    REGHANDLE handle = 0;
    int context = 0;
};

TEST_F(EtwShim, RegistrationGivesDistinctHandlesAndUnregistersOnce) {
    REGHANDLE second = 0;
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kProvider, OnEnable, &context, &handle));
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kOther, nullptr, nullptr, &second));
    EXPECT_NE(0u, handle);
    EXPECT_NE(handle, second);
    EXPECT_EQ(2u, EtwShimRegisteredCount());
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventUnregister(second));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_HANDLE, EventUnregister(second));
    EXPECT_EQ(1u, EtwShimRegisteredCount());
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_PARAMETER, EventRegister(nullptr, nullptr, nullptr, &second));
    EXPECT_TRUE(gEnableCalls.empty());
}

TEST_F(EtwShim, ProviderEnabledBeforeRegisteringIsToldAtRegistration) {
    EtwShimEnableProvider(&kProvider, 4, ~0ull, 0);
    EXPECT_TRUE(gEnableCalls.empty());
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kProvider, OnEnable, &context, &handle));
    ASSERT_EQ(1u, gEnableCalls.size());
    EXPECT_EQ(EVENT_CONTROL_CODE_ENABLE_PROVIDER, gEnableCalls[0].code);
    EXPECT_EQ(4u, gEnableCalls[0].level);
    EXPECT_EQ(~0ull, gEnableCalls[0].any);
}

// What a session sees of the module's own events is the module's trace test;
// here the writes the shim refuses or drops.
TEST_F(EtwShim, WritesOnUnknownHandlesOrWithoutAConsumerReachNobody) {
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kProvider, OnEnable, &context, &handle));
    EtwShimEnableProvider(&kOther, 5, 1, 1);  // another provider: not ours to hear
    EXPECT_TRUE(gEnableCalls.empty());
    const char text[] = "message";
    EVENT_DATA_DESCRIPTOR data{reinterpret_cast<uint64_t>(text), sizeof text, 0};
    const EVENT_DESCRIPTOR descriptor{2012, 0, 17, 4, 0, 0, 0x4000000000000000ull};
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventWrite(handle, &descriptor, 1, &data));
    ASSERT_EQ(1u, gWritten.size());
    EXPECT_EQ(0, std::memcmp(&gWritten[0].provider, &kProvider, sizeof(GUID)));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_HANDLE, EventWrite(handle + 1000, &descriptor, 1, &data));
    EtwShimSetConsumer(nullptr, nullptr);
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventWrite(handle, &descriptor, 1, &data));
    EXPECT_EQ(1u, gWritten.size());
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_PARAMETER, EventWrite(handle, nullptr, 0, nullptr));
    EtwShimDisableProvider(&kOther);
}

// A provider that logs from inside its enable callback must not deadlock.
REGHANDLE gSelfHandle = 0;
void WriteOnEnable(const GUID*, uint32_t code, uint8_t, uint64_t, uint64_t, const void*, void*) {
    if (code != EVENT_CONTROL_CODE_ENABLE_PROVIDER) return;
    const EVENT_DESCRIPTOR descriptor{2010, 0, 17, 2, 0, 0, 0};
    EventWrite(gSelfHandle, &descriptor, 0, nullptr);
}

TEST_F(EtwShim, EnableCallbackMayWrite) {
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kProvider, WriteOnEnable, nullptr, &handle));
    gSelfHandle = handle;
    EtwShimEnableProvider(&kProvider, 0, 1, 0);
    ASSERT_EQ(1u, gWritten.size());
    EXPECT_EQ(2010u, gWritten[0].descriptor.Id);
}

}  // namespace
