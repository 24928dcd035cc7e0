// The exception family as a host's handlers see it.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include <exception>
#include <memory>

namespace {

using namespace noxb::BluetoothProvider;

// A thrown copy owns its text: the original is gone before any handler runs.
template <typename E, typename... Args>
std::exception_ptr ThrownCopy(Args... args) {
    const auto original = std::make_unique<E>(args...);
    return std::make_exception_ptr(*original);
}

TEST(ProviderExceptions, CopiesKeepTextTypeAndCodesAndOnlyGeneralOnesAreGeneral) {
    const struct {
        std::exception_ptr thrown;
        const char* text;
        int type, code;
        bool general;
    } rows[] = {
        {ThrownCopy<NoxBleProviderGeneralException>(-353763294),
         "Bluetooth provider general exception", 18, -353763294, true},
        {ThrownCopy<ConnectionFailedException>(),
         "Bluetooth Provider: Failed to establish connection with remote device.", 5, 0, false},
        {ThrownCopy<ProviderServiceNotFoundException>(),
         "Bluetooth Provider: Operation failed since local adapter is not connected to the "
         "specified service.",
         9, 0, false},
    };
    for (const auto& row : rows) {
        try {
            std::rethrow_exception(row.thrown);
        } catch (const BluetoothProviderException& e) {  // virtual, as the host's usual handler
            EXPECT_STREQ(e.what(), row.text);
            EXPECT_TRUE(e.ErrorType() == row.type && e.nativeCode == row.code) << row.text;
            EXPECT_EQ(dynamic_cast<const ProviderGeneralException*>(&e) != nullptr, row.general);
        }
    }
}

}  // namespace
