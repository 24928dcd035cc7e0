// Address text, UTF-8 conversion and message composition.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "logging/formatlogtext.h"
#include "textutil/bleaddress.h"
#include "textutil/utf8.h"

namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(FormatBleAddress, SixLowerCasePairsInStoredOrder) {
    const unsigned char zeros[6] = {};
    const unsigned char ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char sample[6] = {0x0A, 0x1A, 0x7D, 0xDA, 0x71, 0xB0};
    EXPECT_EQ(FormatBleAddress(zeros), L"00:00:00:00:00:00");
    EXPECT_EQ(FormatBleAddress(ones), L"ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(FormatBleAddress(sample), L"0a:1a:7d:da:71:b0");
}

// The converter that mingw's run time offers throws on lone surrogate
// halves; ours encodes them like any value.
TEST(ToUtf8, EncodesEachWideUnit) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToUtf8(std::wstring(L"P\0x", 3)), std::string("P\0x", 3));
    const std::wstring high(1, static_cast<wchar_t>(0xD83D)), low(1, static_cast<wchar_t>(0xDE00));
    EXPECT_EQ(ToUtf8(L"a" + high + L"b"), Bytes({'a', 0xED, 0xA0, 0xBD, 'b'}));
    EXPECT_EQ(ToUtf8(low), Bytes({0xED, 0xB8, 0x80}));
    // An emoji (U+1F600) in a device name, as the platform's wide text holds it.
#if WCHAR_MAX <= 0xFFFF
    EXPECT_EQ(ToUtf8(L"Phone " + high + low),
              "Phone " + Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
#else
    EXPECT_EQ(ToUtf8(L"Phone \U0001F600"), "Phone " + Bytes({0xF0, 0x9F, 0x98, 0x80}));
    const std::wstring beyond = {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(0x10FFFF)};
    EXPECT_EQ(ToUtf8(beyond), Bytes({0xEF, 0xBF, 0xBD, 0xF4, 0x8F, 0xBF, 0xBF}));
#endif
}

// Every value a wide unit holds encodes in the shortest form of its range
// and decodes back to itself.
TEST(ToUtf8, EveryUnitRoundTripsInItsShortestForm) {
    const std::uint32_t last = WCHAR_MAX > 0xFFFF ? 0x10FFFF : 0xFFFF;
    for (std::uint32_t value = 0; value <= last; ++value) {
        const std::string text = ToUtf8(std::wstring(1, static_cast<wchar_t>(value)));
        const std::size_t n = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
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
        ASSERT_EQ(back, value);
    }
}

TEST(FormatLogText, CopiesTextWithoutArgumentsFormatsTheRestAndCutsAt1023) {
    EXPECT_EQ(FormatLogText("connecting to 100% %s %n %d"), "connecting to 100% %s %n %d");
    EXPECT_EQ(FormatLogText(std::string("name %x%%")), "name %x%%");
    EXPECT_EQ(FormatLogText(std::string("ab\0cd", 5)), "ab");  // as the C text would
    EXPECT_EQ(FormatLogText("event:%d at %s", -353763294, "LEAPI_Uninitialize"),
              "event:-353763294 at LEAPI_Uninitialize");
    const std::string longText(2000, 'x');
    EXPECT_EQ(FormatLogText(longText), longText.substr(0, 1023));
    EXPECT_EQ(FormatLogText(longText.c_str()), longText.substr(0, 1023));
    // Both the format and the composed text are cut.
    EXPECT_EQ(FormatLogText("%s%s", longText.c_str(), "tail"), longText.substr(0, 1023));
    EXPECT_EQ(FormatLogText(std::string(1023, 'z') + "%d", 5), std::string(1023, 'z'));
}

}  // namespace
