// The module's one source of time: the wall clock, its pauses and its timed
// waits for the operation lock. Release and test builds take the definitions
// of systemclock.cpp. The fuzz targets link definitions of their own (a
// virtual clock, fuzz/virtualclock.cpp); the linker then never takes
// systemclock.cpp's object out of the module's static library.
#ifndef NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H
#define NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H

#include <chrono>
#include <cstdint>
#include <mutex>

// The wall clock in 100-nanosecond ticks, which the discovery retry window
// and the read time-out are measured in.
std::int64_t SystemTimeTicks();

// Sleeps for `duration`.
void Pause(std::chrono::milliseconds duration);

// Waits up to `duration` for `lock`, on the steady clock; true when taken.
bool TryLockFor(std::recursive_timed_mutex& lock, std::chrono::milliseconds duration);

#endif  // NOXB_BLEGATTWRAPPER_SYSTEMCLOCK_H
