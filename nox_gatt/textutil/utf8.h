#ifndef NOXB_TEXTUTIL_UTF8_H
#define NOXB_TEXTUTIL_UTF8_H

#include <string>

// UTF-8 form of wide text for log messages. Never fails, whatever the text:
// - 16-bit wchar_t: each code unit on its own in one to three bytes; a
//   surrogate half, paired or lone, like any other value (an emoji becomes two
//   three-byte sequences).
// - 32-bit wchar_t: each value up to U+10FFFF in one to four bytes, surrogate
//   values again as three bytes, so a lone half reads the same on both
//   platforms; values above U+10FFFF (and negative ones) become U+FFFD.
std::string ToUtf8(const std::wstring& text);

#endif  // NOXB_TEXTUTIL_UTF8_H
