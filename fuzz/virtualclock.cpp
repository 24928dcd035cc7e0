// The fuzz targets' clock, linked in place of the module's systemclock.cpp:
// virtual time that starts at the same instant in every run and for every
// input. A pause moves it on at once; a lock wait takes the lock if it is
// free and otherwise gives up at once, as late as the wait would have. Read
// time-outs and the discovery retry window elapse in it.
#include <pthread.h>

#include <atomic>

#include "blegattwrapper/systemclock.h"

namespace {

constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kStart = 17672256000000000;  // 2026-01-01, in ticks since 1970
std::atomic<std::int64_t> now{kStart};
std::atomic<std::recursive_timed_mutex*> lastLock{nullptr};

}  // namespace

std::int64_t SystemTimeTicks() { return now.load(); }

void Pause(std::chrono::milliseconds duration) { now += duration.count() * kTicksPerMs; }

bool TryLockFor(std::recursive_timed_mutex& lock, std::chrono::milliseconds duration) {
    lastLock = &lock;
    if (lock.try_lock()) return true;
    Pause(duration);
    return false;
}

// The lock is recursive, so only another thread could try it; glibc's record
// of its owner tells the same without one.
bool LastLockHeld() {
    std::recursive_timed_mutex* lock = lastLock;
    return lock != nullptr && lock->native_handle()->__data.__owner != 0;
}

void ForgetLastLock() { lastLock = nullptr; }

void RestartVirtualTime() { now = kStart; }
