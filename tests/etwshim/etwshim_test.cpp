// The trace shim where the module's own trace tests do not reach it: handles
// and their refusals, writes nobody hears, and a callback that writes. (A
// provider enabled before it registers is told at registration: the host
// test's records depend on it. The trace capture of the module's tests takes
// the consumer's context and the writer's provider id as they come.)
#include <etwshim/etwshim.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr GUID kProvider{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOther{0x87654321, 0x3333, 0x4444, {8, 7, 6, 5, 4, 3, 2, 1}};

std::vector<std::uint32_t> gHeard;  // the enable callback's codes and the written ids, in order
REGHANDLE gHandle = 0;

// Writes from inside the enable callback: the shim must not deadlock.
void OnEnable(const GUID*, uint32_t code, uint8_t, uint64_t, uint64_t, const void*, void*) {
    gHeard.push_back(code);
    const EVENT_DESCRIPTOR descriptor{2010, 0, 17, 2, 0, 0, 0};
    if (code == EVENT_CONTROL_CODE_ENABLE_PROVIDER) EventWrite(gHandle, &descriptor, 0, nullptr);
}

void Consume(const GUID*, const EVENT_DESCRIPTOR* descriptor, uint32_t,
             const EVENT_DATA_DESCRIPTOR*, void*) {
    gHeard.push_back(descriptor->Id);
}

TEST(EtwShim, HandlesAreDistinctAndWritesReachOnlyTheConsumerOfARegisteredHandle) {
    EtwShimSetConsumer(Consume, nullptr);
    REGHANDLE other = 0;
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kProvider, OnEnable, nullptr, &gHandle));
    ASSERT_EQ(ETWSHIM_ERROR_SUCCESS, EventRegister(&kOther, nullptr, nullptr, &other));
    EXPECT_TRUE(gHandle != 0 && gHandle != other && EtwShimRegisteredCount() == 2u);
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventUnregister(other));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_HANDLE, EventUnregister(other));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_PARAMETER, EventRegister(nullptr, nullptr, nullptr, &other));
    EtwShimEnableProvider(&kOther, 5, 1, 1);  // another provider's: not ours to hear
    EtwShimEnableProvider(&kProvider, 0, 1, 0);
    const EVENT_DESCRIPTOR descriptor{2012, 0, 17, 4, 0, 0, 0x4000000000000000ull};
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventWrite(gHandle, &descriptor, 0, nullptr));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_HANDLE, EventWrite(gHandle + 1000, &descriptor, 0, nullptr));
    EXPECT_EQ(ETWSHIM_ERROR_INVALID_PARAMETER, EventWrite(gHandle, nullptr, 0, nullptr));
    EtwShimSetConsumer(nullptr, nullptr);
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventWrite(gHandle, &descriptor, 0, nullptr));
    EXPECT_EQ(gHeard, (std::vector<std::uint32_t>{EVENT_CONTROL_CODE_ENABLE_PROVIDER, 2010, 2012}));
    EXPECT_EQ(ETWSHIM_ERROR_SUCCESS, EventUnregister(gHandle));  // enabled as it is
}

}  // namespace
