// Taking the operation lock with a deadline.
#ifndef NOXB_BLEGATTWRAPPER_OPERATIONLOCK_H
#define NOXB_BLEGATTWRAPPER_OPERATIONLOCK_H

#include <chrono>
#include <mutex>

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

// try_lock_until on the steady clock. libstdc++ waits with
// pthread_mutex_clocklock there, which the thread sanitizer does not see;
// in such builds the acquisition is announced to it by hand, on the same
// native mutex its unlock interceptor knows.
inline bool TryLockUntil(std::recursive_timed_mutex& lock,
                         std::chrono::steady_clock::time_point deadline) {
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

#endif  // NOXB_BLEGATTWRAPPER_OPERATIONLOCK_H
