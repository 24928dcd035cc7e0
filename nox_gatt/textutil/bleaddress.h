#ifndef NOXB_TEXTUTIL_BLEADDRESS_H
#define NOXB_TEXTUTIL_BLEADDRESS_H

#include <string>

// The 17-character text of a 6-byte device address, "00:1a:7d:da:71:13":
// lower-case pairs, stored first byte first. Hosts get it from Scan and hand
// it back, and device look-ups compare it exactly.
std::wstring FormatBleAddress(const unsigned char* address);

#endif  // NOXB_TEXTUTIL_BLEADDRESS_H
