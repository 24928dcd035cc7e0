// What a trace session needs to listen to the module: the provider id, the
// events and their payload. The same values stand in the Windows
// instrumentation manifest.
#ifndef NOXB_TRACE_H
#define NOXB_TRACE_H

#include <cstdint>

namespace noxb {
namespace trace {

// {7C3E91A4-52D8-4F0B-9A6E-D41B83C5F027}, the GUID fields as plain numbers.
inline constexpr std::uint32_t kProviderIdData1 = 0x7C3E91A4u;
inline constexpr std::uint16_t kProviderIdData2 = 0x52D8u;
inline constexpr std::uint16_t kProviderIdData3 = 0x4F0Bu;
inline constexpr std::uint8_t kProviderIdData4[8] = {0x9A, 0x6E, 0xD4, 0x1B,
                                                     0x83, 0xC5, 0xF0, 0x27};
inline constexpr char kProviderIdText[] = "{7C3E91A4-52D8-4F0B-9A6E-D41B83C5F027}";

inline constexpr char kProviderName[] = "Noxb-BleGatt";
inline constexpr char kChannelName[] = "Noxb-BleGatt/Operational";
inline constexpr std::uint8_t kChannel = 17;

// Every event carries this keyword; a session must name it in MatchAnyKeyword.
inline constexpr std::uint64_t kKeyword = 0x4000000000000000ull;

// Event ids; trace levels are 1 (critical) to 4 (informational).
inline constexpr std::uint16_t kEventCritical = 2009;
inline constexpr std::uint16_t kEventError = 2010;
inline constexpr std::uint16_t kEventWarning = 2011;
inline constexpr std::uint16_t kEventInfo = 2012;

// Every event has five NUL-terminated narrow strings in this order.
enum PayloadField : unsigned { kMessage = 0, kModule, kFunction, kLine, kFile, kFieldCount };

}  // namespace trace
}  // namespace noxb

#endif  // NOXB_TRACE_H
