// The exception family and the stack return-code check.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include <exception>
#include <memory>
#include <string>

#include "blegattwrapper/bleexception.h"
#include "testworld.h"

namespace {

using namespace noxb::BluetoothProvider;
using testworld::Trace;

const char kGeneral[] = "Bluetooth provider general exception";
const char kConnectionFailed[] =
    "Bluetooth Provider: Failed to establish connection with remote device.";

TEST(CheckLeapiReturnCode, ZeroIsSilentAndAnyOtherCodeIsLoggedAndRaisedWithIt) {
    Trace trace;
    EXPECT_NO_THROW(CheckLeapiReturnCode(0, "LEAPI_X"));
    EXPECT_TRUE(trace.Records().empty());
    testworld::Lines expected;
    for (const int code : {5, -1, static_cast<int>(0xEAEA0022u)}) {
        SCOPED_TRACE(code);
        try {
            CheckLeapiReturnCode(code, "LEAPI_CharacteristicReadLong");
            ADD_FAILURE() << "returned";
        } catch (const NoxBleProviderGeneralException& e) {
            EXPECT_STREQ(e.what(), kGeneral);
            EXPECT_TRUE(e.ErrorType() == 18 && e.nativeCode == code && e.leapiCode == code);
        }
        expected.push_back("E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " +
                           std::to_string(code) + " at LEAPI_CharacteristicReadLong");
    }
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of(), expected);
    }
}

TEST(ProviderExceptions, KeepTheirTextsAndCodesAndAreCaughtByTheirOwnBasesOnly) {
    const ProviderServiceNotFoundException notFound;
    EXPECT_STREQ(notFound.what(),
                 "Bluetooth Provider: Operation failed since local adapter is not connected to "
                 "the specified service.");
    EXPECT_TRUE(notFound.ErrorType() == 9 && notFound.nativeCode == 0);
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), ProviderGeneralException);
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), std::exception);
    // A copy made during the throw owns its text and keeps the codes.
    auto original = std::make_unique<NoxBleProviderGeneralException>(-353763294);
    std::exception_ptr kept = std::make_exception_ptr(*original);
    original.reset();
    try {
        std::rethrow_exception(kept);
    } catch (const BluetoothProviderException& e) {  // virtual through the host's usual handler
        EXPECT_STREQ(e.what(), kGeneral);
        EXPECT_TRUE(e.ErrorType() == 18 && e.nativeCode == -353763294);
    }
    bool caughtAsGeneral = false;
    auto failed = std::make_unique<ConnectionFailedException>();
    kept = std::make_exception_ptr(*failed);
    failed.reset();
    try {
        try {
            std::rethrow_exception(kept);
        } catch (const ProviderGeneralException&) {
            caughtAsGeneral = true;
        }
    } catch (const BluetoothProviderException& e) {
        EXPECT_STREQ(e.what(), kConnectionFailed);
        EXPECT_TRUE(e.ErrorType() == 5 && e.nativeCode == 0);
    }
    EXPECT_FALSE(caughtAsGeneral);
}

}  // namespace
