// The exception family and the stack return-code check.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include <exception>
#include <memory>
#include <string>

#include "blegattwrapper/bleexception.h"
#include "testworld.h"

namespace {

using noxb::BluetoothProvider::BluetoothProviderException;
using noxb::BluetoothProvider::ConnectionFailedException;
using noxb::BluetoothProvider::ProviderGeneralException;
using noxb::BluetoothProvider::ProviderServiceNotFoundException;
using testworld::Lines;
using testworld::Trace;

const char kGeneral[] = "Bluetooth provider general exception";
const char kConnectionFailed[] =
    "Bluetooth Provider: Failed to establish connection with remote device.";

TEST(CheckLeapiReturnCode, ZeroIsSilentAndAnyOtherCodeIsLoggedAndRaisedWithIt) {
    Trace trace;
    EXPECT_NO_THROW(CheckLeapiReturnCode(0, "LEAPI_X"));
    EXPECT_TRUE(trace.Records().empty());
    Lines expected;
    for (const int code : {5, -1, static_cast<int>(0xEAEA0022u)}) {
        SCOPED_TRACE(code);
        try {
            CheckLeapiReturnCode(code, "LEAPI_CharacteristicReadLong");
            ADD_FAILURE() << "returned";
        } catch (const NoxBleProviderGeneralException& e) {
            EXPECT_STREQ(e.what(), kGeneral);
            EXPECT_EQ(e.ErrorType(), 18);
            EXPECT_TRUE(e.nativeCode == code && e.leapiCode == code);
        }
        expected.push_back("E BLE CheckLeapiReturnCode: CheckLeapiReturnCode error: " +
                           std::to_string(code) + " at LEAPI_CharacteristicReadLong");
    }
    if (Trace::Available()) {
        EXPECT_EQ(trace.Of(), expected);
    }
}

TEST(ProviderExceptions, FixedTextsTypesAndCodes) {
    const ConnectionFailedException failed;
    EXPECT_STREQ(failed.what(), kConnectionFailed);
    EXPECT_TRUE(failed.ErrorType() == 5 && failed.nativeCode == 0);
    const ProviderServiceNotFoundException notFound;
    EXPECT_STREQ(notFound.what(),
                 "Bluetooth Provider: Operation failed since local adapter is not connected to "
                 "the specified service.");
    EXPECT_TRUE(notFound.ErrorType() == 9 && notFound.nativeCode == 0);
}

TEST(ProviderExceptions, AreCaughtByTheirOwnBasesOnly) {
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), ProviderGeneralException);
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), std::exception);
    try {
        throw NoxBleProviderGeneralException(-7);
    } catch (const BluetoothProviderException& e) {  // virtual through the host's usual handler
        EXPECT_TRUE(e.ErrorType() == 18 && e.nativeCode == -7);
        EXPECT_STREQ(e.what(), kGeneral);
    }
    bool caughtAsGeneral = false;
    try {
        try {
            throw ConnectionFailedException();
        } catch (const ProviderGeneralException&) {
            caughtAsGeneral = true;
        }
    } catch (const BluetoothProviderException& e) {
        EXPECT_EQ(e.ErrorType(), 5);
    }
    EXPECT_FALSE(caughtAsGeneral);
}

TEST(ProviderExceptions, CopiesOwnTheirTextAndKeepTheCodes) {
    std::exception_ptr kept;
    auto original = std::make_unique<NoxBleProviderGeneralException>(-353763294);
    kept = std::make_exception_ptr(*original);
    original.reset();  // the copy must not point into the original's text
    try {
        std::rethrow_exception(kept);
    } catch (const NoxBleProviderGeneralException& copy) {
        EXPECT_STREQ(copy.what(), kGeneral);
        EXPECT_TRUE(copy.nativeCode == -353763294 && copy.leapiCode == -353763294);
    }
    auto failed = std::make_unique<ConnectionFailedException>();
    const ConnectionFailedException copy = *failed;
    failed.reset();
    EXPECT_STREQ(copy.what(), kConnectionFailed);
}

}  // namespace
