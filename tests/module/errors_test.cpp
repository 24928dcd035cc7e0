// The exception family and the stack return-code check.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include <exception>
#include <memory>
#include <string>

#include "blegattwrapper/bleexception.h"

namespace {

using noxb::BluetoothProvider::BluetoothProviderException;
using noxb::BluetoothProvider::ConnectionFailedException;
using noxb::BluetoothProvider::ProviderGeneralException;
using noxb::BluetoothProvider::ProviderServiceNotFoundException;

NoxBleProviderGeneralException Thrown(int code, const std::string& at) {
    try {
        CheckLeapiReturnCode(code, at);
    } catch (const NoxBleProviderGeneralException& e) {
        return e;
    }
    ADD_FAILURE() << "no exception for code " << code;
    return NoxBleProviderGeneralException(0);
}

TEST(CheckLeapiReturnCode, ZeroReturns) { EXPECT_NO_THROW(CheckLeapiReturnCode(0, "LEAPI_X")); }

TEST(CheckLeapiReturnCode, AnyOtherCodeThrowsTheGeneralExceptionWithIt) {
    const NoxBleProviderGeneralException five = Thrown(5, "LEAPI_CharacteristicReadLong");
    EXPECT_STREQ(five.what(), "Bluetooth provider general exception");
    EXPECT_EQ(five.ErrorType(), 18);
    EXPECT_EQ(five.nativeCode, 5);
    EXPECT_EQ(five.leapiCode, 5);

    const NoxBleProviderGeneralException minusOne = Thrown(-1, "LEAPI_X");
    EXPECT_EQ(minusOne.nativeCode, -1);
    EXPECT_EQ(minusOne.leapiCode, -1);

    const NoxBleProviderGeneralException stackError =
        Thrown(static_cast<int>(0xEAEA0022u), "LEAPI_CharacteristicReadLong");
    EXPECT_EQ(stackError.nativeCode, -353763294);
    EXPECT_EQ(stackError.leapiCode, -353763294);
}

TEST(ProviderExceptions, FixedTextsTypesAndCodes) {
    const ConnectionFailedException failed;
    EXPECT_STREQ(failed.what(),
                 "Bluetooth Provider: Failed to establish connection with remote device.");
    EXPECT_EQ(failed.ErrorType(), 5);
    EXPECT_EQ(failed.nativeCode, 0);

    const ProviderServiceNotFoundException notFound;
    EXPECT_STREQ(notFound.what(),
                 "Bluetooth Provider: Operation failed since local adapter is not connected to "
                 "the specified service.");
    EXPECT_EQ(notFound.ErrorType(), 9);
    EXPECT_EQ(notFound.nativeCode, 0);
}

TEST(ProviderExceptions, GeneralExceptionIsCaughtAsEveryBase) {
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), ProviderGeneralException);
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), BluetoothProviderException);
    EXPECT_THROW(throw NoxBleProviderGeneralException(3), std::exception);
    try {
        throw NoxBleProviderGeneralException(-7);
    } catch (const BluetoothProviderException& e) {
        // Virtual through the base: the host's usual handler.
        EXPECT_EQ(e.ErrorType(), 18);
        EXPECT_EQ(e.nativeCode, -7);
        EXPECT_STREQ(e.what(), "Bluetooth provider general exception");
    }
}

TEST(ProviderExceptions, ConnectionFailedIsNotAGeneralException) {
    bool caughtAsGeneral = false;
    bool caughtAsProviderException = false;
    try {
        try {
            throw ConnectionFailedException();
        } catch (const ProviderGeneralException&) {
            caughtAsGeneral = true;
        }
    } catch (const BluetoothProviderException& e) {
        caughtAsProviderException = e.ErrorType() == 5;
    }
    EXPECT_FALSE(caughtAsGeneral);
    EXPECT_TRUE(caughtAsProviderException);
}

TEST(ProviderExceptions, CopiesOwnTheirTextAndKeepTheCodes) {
    std::exception_ptr kept;
    {
        auto original = std::make_unique<NoxBleProviderGeneralException>(-353763294);
        kept = std::make_exception_ptr(*original);
        // The copy must not point into the original's text.
        original.reset();
    }
    try {
        std::rethrow_exception(kept);
    } catch (const NoxBleProviderGeneralException& copy) {
        EXPECT_STREQ(copy.what(), "Bluetooth provider general exception");
        EXPECT_EQ(copy.nativeCode, -353763294);
        EXPECT_EQ(copy.leapiCode, -353763294);
    }

    auto failed = std::make_unique<ConnectionFailedException>();
    const ConnectionFailedException copy = *failed;
    failed.reset();
    EXPECT_STREQ(copy.what(),
                 "Bluetooth Provider: Failed to establish connection with remote device.");
}

}  // namespace
