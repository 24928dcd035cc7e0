// Address text, UTF-8 conversion, message composition and the exception
// family as a host's handlers see it.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include <cstdint>
#include <cwchar>
#include <exception>
#include <string>

#include "logging/formatlogtext.h"
#include "textutil/bleaddress.h"
#include "textutil/utf8.h"

namespace {

using namespace noxb::BluetoothProvider;

// Between them the two addresses hold every hex digit.
TEST(FormatBleAddress, SixLowerCasePairsInStoredOrder) {
    const unsigned char first[6] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    const unsigned char second[6] = {0xCD, 0xEF, 0x00, 0xFF, 0x10, 0xBA};
    EXPECT_EQ(FormatBleAddress(first), L"01:23:45:67:89:ab");
    EXPECT_EQ(FormatBleAddress(second), L"cd:ef:00:ff:10:ba");
}

// Every value a wide unit holds encodes in the shortest form of its range and
// decodes back to itself; values past U+10FFFF become U+FFFD. Lone surrogate
// halves encode like any value (mingw's own converter throws on them), so a
// 16-bit platform's surrogate pair comes out as two 3-byte forms.
TEST(ToUtf8, EveryUnitRoundTripsInItsShortestForm) {
    EXPECT_EQ(ToUtf8(std::wstring(L"P\0\u00e9", 3)), std::string("P\0\xC3\xA9", 4));
    const std::uint32_t last = WCHAR_MAX > 0xFFFF ? 0x110000 : 0xFFFF;
    for (std::uint32_t value = 0; value <= last; ++value) {
        const std::string text = ToUtf8(std::wstring(1, static_cast<wchar_t>(value)));
        const std::uint32_t want = value > 0x10FFFF ? 0xFFFD : value;
        const std::size_t n = want < 0x80 ? 1 : want < 0x800 ? 2 : want < 0x10000 ? 3 : 4;
        ASSERT_EQ(text.size(), n) << std::hex << value;
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        // The lead byte: 0xxxxxxx, 110xxxxx, 1110xxxx or 11110xxx.
        const unsigned mask = n == 1 ? 0x80 : (0xFF00u >> (n + 1)) & 0xFF;
        const unsigned lead = n == 1 ? 0x00 : (0xFF00u >> n) & 0xFF;
        ASSERT_EQ(byte(0) & mask, lead) << std::hex << value;
        std::uint32_t back = byte(0) & (0x7Fu >> (n == 1 ? 0 : n));
        for (std::size_t i = 1; i < n; ++i) {
            ASSERT_EQ(byte(i) & 0xC0, 0x80u) << std::hex << value;
            back = back << 6 | (byte(i) & 0x3F);
        }
        ASSERT_EQ(back, want);
    }
}

TEST(FormatLogText, CopiesTextWithoutArgumentsFormatsTheRestAndCutsAt1023) {
    const std::string longText(2000, 'x'), cut = longText.substr(0, 1023);
    EXPECT_EQ(FormatLogText("connecting to 100% %s %n %d"), "connecting to 100% %s %n %d");
    EXPECT_EQ(FormatLogText(std::string("name %x%%\0cd", 12)), "name %x%%");  // as the C text
    EXPECT_EQ(FormatLogText("event:%d at %s", -353763294, "LEAPI_Uninitialize"),
              "event:-353763294 at LEAPI_Uninitialize");
    EXPECT_EQ(FormatLogText(longText.c_str()), cut);
    // Both the format and the composed text are cut.
    EXPECT_EQ(FormatLogText("%s%s", longText.c_str(), "tail"), cut);
    EXPECT_EQ(FormatLogText(std::string(1023, 'z') + "%d", 5), std::string(1023, 'z'));
}

// A thrown copy owns its text: the original is gone before any handler runs.
// (A failed connection's exception is the host test's.)
TEST(ProviderExceptions, CopiesKeepTextTypeAndCodesAndOnlyGeneralOnesAreGeneral) {
    const struct {
        std::exception_ptr thrown;
        const char* text;
        int type, code;
        bool general;
    } rows[] = {
        {std::make_exception_ptr(NoxBleProviderGeneralException(-353763294)),
         "Bluetooth provider general exception", 18, -353763294, true},
        {std::make_exception_ptr(ProviderServiceNotFoundException()),
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
