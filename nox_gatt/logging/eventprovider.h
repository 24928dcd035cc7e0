// The module's event-trace provider: registration, the enable state a trace
// session sets through the enable callback, and the event writer.
#ifndef NOXB_LOGGING_EVENTPROVIDER_H
#define NOXB_LOGGING_EVENTPROVIDER_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "loglevel.h"
#include "logrecord.h"

// Event i: 0 = Critical (id 2009) ... 3 = Info (id 2012); its enable bit is 1 << i.
inline constexpr std::size_t kEventCount = 4;

// What the last enable request asked for. The trace system writes it on its
// own thread while loggers read it, hence the atomics; a record racing with
// an enable change may be written or dropped.
struct EventProviderContext {
    std::atomic<std::uint64_t> matchAnyKeyword{0};
    std::atomic<std::uint64_t> matchAllKeyword{0};
    std::atomic<std::uint32_t> isEnabled{0};
    std::atomic<std::uint8_t> level{0};
    std::uint16_t enableBitsCount = kEventCount;
    std::atomic<std::uint32_t> enableBitMask{0};
};

// Updates `context` for a trace session's enable (1) or disable (0) request;
// other control codes change nothing.
void ApplyEnableRequest(EventProviderContext& context, std::uint32_t controlCode,
                        std::uint8_t level, std::uint64_t matchAnyKeyword,
                        std::uint64_t matchAllKeyword);

// The event index of a level, -1 for a level that has no event.
int EventIndexOf(LogLevel level);

// Registers once (while no registration is held) and unregisters; failures
// are not reported: an unregistered provider is simply never enabled.
void RegisterEventProvider();
void UnregisterEventProvider();

bool IsEventEnabled(int event);
// One EventWrite with the event's descriptor and the record's five strings.
void WriteTraceEvent(int event, const LogRecord& record);

#endif  // NOXB_LOGGING_EVENTPROVIDER_H
