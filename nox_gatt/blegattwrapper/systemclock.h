// The wall clock in 100-nanosecond ticks, which the discovery retry window
// and the read time-out are measured in.
#ifndef NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H
#define NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H

#include <chrono>
#include <cstdint>
#include <ratio>

inline std::int64_t SystemTimeTicks() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

#endif  // NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H
