// Address text, UTF-8 conversion, message composition and the exception
// family as a host's handlers see it.
#include <gtest/gtest.h>

#include <noxb/Exceptions.h>

#include "logging/formatlogtext.h"
#include "textutil/bleaddress.h"
#include "textutil/utf8.h"

using namespace noxb::BluetoothProvider;

// Between them the two addresses hold every hex digit. Log text without
// arguments is copied as it is, up to its first NUL; with arguments it is
// composed; both the format and the composed text are cut at 1023 bytes.
// Every value a wide unit holds encodes in the shortest form of its range and
// decodes back to itself; values past U+10FFFF become U+FFFD. Lone surrogate
// halves encode like any value (mingw's own converter throws on them), so a
// 16-bit platform's surrogate pair comes out as two 3-byte forms.
TEST(Text, AddressesLogTextAndUtf8AreAsTheirReadersExpect) {
    const unsigned char bytes[12] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                                     0xCD, 0xEF, 0x00, 0xFF, 0x10, 0xBA};
    EXPECT_EQ(FormatBleAddress(bytes) + FormatBleAddress(bytes + 6),
              L"01:23:45:67:89:abcd:ef:00:ff:10:ba");
    const std::string longText(2000, 'x'), cut = longText.substr(0, 1023);
    EXPECT_EQ(FormatLogText("connecting to 100% %s %n %d"), "connecting to 100% %s %n %d");
    EXPECT_EQ(FormatLogText(std::string("name %x%%\0cd", 12)), "name %x%%");
    EXPECT_EQ(FormatLogText("event:%d at %s", -353763294, "LEAPI_Uninitialize"),
              "event:-353763294 at LEAPI_Uninitialize");
    EXPECT_EQ(FormatLogText(longText.c_str()), cut);
    EXPECT_EQ(FormatLogText("%s%s", longText.c_str(), "tail"), cut);
    EXPECT_EQ(FormatLogText(std::string(1020, 'z') + "%d", 56789), std::string(1020, 'z') + "567");
    EXPECT_EQ(ToUtf8(std::wstring(L"P\0\u00e9", 3)), std::string("P\0\xC3\xA9", 4));
    // By length: the lead byte is 0xxxxxxx, 110xxxxx, 1110xxxx or 11110xxx.
    const unsigned leadMask[] = {0, 0x80, 0xE0, 0xF0, 0xF8}, lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::uint32_t value = 0; value <= (sizeof(wchar_t) > 2 ? 0x110000u : 0xFFFFu); ++value) {
        const std::string text = ToUtf8(std::wstring(1, static_cast<wchar_t>(value)));
        const std::uint32_t want = value > 0x10FFFF ? 0xFFFD : value;
        const std::size_t n = want < 0x80 ? 1 : want < 0x800 ? 2 : want < 0x10000 ? 3 : 4;
        ASSERT_EQ(text.size(), n) << std::hex << value;
        std::uint32_t back = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned byte = static_cast<unsigned char>(text[i]),
                           mask = i ? 0xC0 : leadMask[n];
            ASSERT_EQ(byte & mask, i ? 0x80 : lead[n]) << std::hex << value;
            back = back << 6 | (byte & ~mask);
        }
        ASSERT_EQ(back, want);
    }
}

// A thrown copy owns its text: the original is gone before any handler runs.
// (A failed connection's exception is the host test's.)
TEST(ProviderExceptions, CopiesKeepTextTypeAndCodesAndOnlyGeneralOnesAreGeneral) {
    const auto caught = [](const std::exception_ptr& thrown) {
        try {
            std::rethrow_exception(thrown);
        } catch (const BluetoothProviderException& e) {  // virtual, as the host's usual handler
            return std::string(e.what()) + " " + std::to_string(e.ErrorType()) + " " +
                   std::to_string(e.nativeCode) +
                   (dynamic_cast<const ProviderGeneralException*>(&e) ? " general" : "");
        }
    };
    EXPECT_EQ(caught(std::make_exception_ptr(NoxBleProviderGeneralException(-353763294))),
              "Bluetooth provider general exception 18 -353763294 general");
    EXPECT_EQ(caught(std::make_exception_ptr(ProviderServiceNotFoundException())),
              "Bluetooth Provider: Operation failed since local adapter is not connected to the "
              "specified service. 9 0");
}
