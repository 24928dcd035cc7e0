// Text between a host's UTF-8 and the module's wide strings.
#ifndef NOXB_HOSTSUPPORT_HOSTTEXT_H
#define NOXB_HOSTSUPPORT_HOSTTEXT_H

#include <cstdint>
#include <string>

// UTF-16 pairs (16-bit wchar_t) make one code point; a lone half is encoded
// as it is; values above U+10FFFF become U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// "xx:xx:xx:xx:xx:xx", lower-case hex, the six address bytes in stored order.
std::string AddressText(const std::uint8_t* address);

#endif  // NOXB_HOSTSUPPORT_HOSTTEXT_H
