// The real clock: only what fuzz/virtualclock.cpp defines in fuzz builds
// belongs here, or the two would clash there.
#include "systemclock.h"

#include <ratio>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define NOXB_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NOXB_TSAN 1
#endif
#endif
#if defined(NOXB_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

std::int64_t SystemTimeTicks() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

// try_lock_until on the steady clock. libstdc++ waits with
// pthread_mutex_clocklock there, which the thread sanitizer does not see;
// in such builds the acquisition is announced to it by hand, on the same
// native mutex its unlock interceptor knows.
bool TryLockFor(std::recursive_timed_mutex& lock, std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
#if defined(NOXB_TSAN)
    void* native = lock.native_handle();
    __tsan_mutex_pre_lock(native, __tsan_mutex_try_lock);
    const bool taken = lock.try_lock_until(deadline);
    __tsan_mutex_post_lock(native, taken ? __tsan_mutex_try_lock : __tsan_mutex_try_lock_failed, 0);
    return taken;
#else
    return lock.try_lock_until(deadline);
#endif
}
