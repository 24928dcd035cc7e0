#ifndef NOXB_TEXTUTIL_BLEADDRESS_H
#define NOXB_TEXTUTIL_BLEADDRESS_H

#include <string>

// The 17-character text of a 6-byte device address, "00:1a:7d:da:71:13":
// lower-case pairs, stored first byte first. Hosts get it from Scan and hand
// it back, and device look-ups compare it exactly.
std::wstring FormatBleAddress(const unsigned char* address);

// Whether `text` is exactly FormatBleAddress(address), without making it.
bool IsBleAddressText(const unsigned char* address, const std::wstring& text);

#endif  // NOXB_TEXTUTIL_BLEADDRESS_H
