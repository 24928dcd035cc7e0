// Address text, UTF-8 conversion and message composition.
#include <gtest/gtest.h>

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
    const unsigned char sample[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    const unsigned char zeros[6] = {};
    const unsigned char ones[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const unsigned char leadingZero[6] = {0x0A, 0x01, 0x02, 0x03, 0x04, 0xB0};
    EXPECT_EQ(FormatBleAddress(sample), L"00:1a:7d:da:71:13");
    EXPECT_EQ(FormatBleAddress(zeros), L"00:00:00:00:00:00");
    EXPECT_EQ(FormatBleAddress(ones), L"ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(FormatBleAddress(leadingZero), L"0a:01:02:03:04:b0");
    EXPECT_EQ(FormatBleAddress(ones).size(), 17u);
}

TEST(ToUtf8, EncodesOneToThreeByteCharacters) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToUtf8(L"Pixel 7"), "Pixel 7");
    EXPECT_EQ(ToUtf8(std::wstring(1, L'\0')), std::string(1, '\0'));
    EXPECT_EQ(ToUtf8(L"\u00e9"), Bytes({0xC3, 0xA9}));
    EXPECT_EQ(ToUtf8(L"\u20ac"), Bytes({0xE2, 0x82, 0xAC}));
    EXPECT_EQ(ToUtf8(L"\u07ff\u0800\uffff"),
              Bytes({0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
}

// The converter that mingw's run time offers throws on these; ours never does.
TEST(ToUtf8, LoneSurrogateHalvesAreEncodedLikeAnyValue) {
    const std::wstring high(1, static_cast<wchar_t>(0xD83D));
    const std::wstring low(1, static_cast<wchar_t>(0xDE00));
    EXPECT_EQ(ToUtf8(L"a" + high + L"b"), Bytes({'a', 0xED, 0xA0, 0xBD, 'b'}));
    EXPECT_EQ(ToUtf8(low), Bytes({0xED, 0xB8, 0x80}));
}

TEST(ToUtf8, EmojiInADeviceName) {
    // U+1F600 as the platform's wide text holds it.
#if WCHAR_MAX <= 0xFFFF
    const std::wstring name = L"Phone \xD83D\xDE00";
    // Each half on its own, three bytes each.
    const std::string expected = "Phone " + Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80});
#else
    const std::wstring name = L"Phone \U0001F600";
    const std::string expected = "Phone " + Bytes({0xF0, 0x9F, 0x98, 0x80});
#endif
    EXPECT_EQ(ToUtf8(name), expected);
}

#if WCHAR_MAX > 0xFFFF
TEST(ToUtf8, ValuesBeyondUnicodeBecomeReplacementCharacter) {
    const std::wstring text = {L'x', static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1),
                               static_cast<wchar_t>(0x10FFFF)};
    EXPECT_EQ(ToUtf8(text),
              Bytes({'x', 0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD, 0xF4, 0x8F, 0xBF, 0xBF}));
}
#endif

TEST(FormatLogText, TextWithoutArgumentsIsCopiedUnchanged) {
    EXPECT_EQ(FormatLogText("connecting to 100% %s %n %d"), "connecting to 100% %s %n %d");
    EXPECT_EQ(FormatLogText(std::string("name %x%%")), "name %x%%");
    EXPECT_EQ(FormatLogText(""), "");
    // Composition stops at the first NUL, as the C text would.
    EXPECT_EQ(FormatLogText(std::string("ab\0cd", 5)), "ab");
}

TEST(FormatLogText, FormatsArguments) {
    EXPECT_EQ(FormatLogText("event:%d at %s", -353763294, "LEAPI_Uninitialize"),
              "event:-353763294 at LEAPI_Uninitialize");
    EXPECT_EQ(FormatLogText(std::string("%u%%"), 7u), "7%");
}

TEST(FormatLogText, CutsAt1023Characters) {
    const std::string longText(2000, 'x');
    EXPECT_EQ(FormatLogText(longText), longText.substr(0, 1023));
    EXPECT_EQ(FormatLogText(longText.c_str()), longText.substr(0, 1023));
    EXPECT_EQ(FormatLogText(std::string(1023, 'y')), std::string(1023, 'y'));
    // Both the format and the composed text are cut.
    EXPECT_EQ(FormatLogText("%s%s", longText.c_str(), "tail"), longText.substr(0, 1023));
    EXPECT_EQ(FormatLogText(std::string(1023, 'z') + "%d", 5), std::string(1023, 'z'));
}

}  // namespace
