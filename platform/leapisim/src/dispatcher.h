// Delivers the stack's callbacks, in the order they were queued, on a thread
// of the stack's own; or, pumped, on the thread that asks for them (Pump,
// Flush) and only then. Every queued callback has an owner (a session handle,
// or kStackOwner for the stack-wide callback) so that closing a session can
// take back what was queued for it.
#ifndef LEAPISIM_DISPATCHER_H
#define LEAPISIM_DISPATCHER_H

#include <leapi/leapi.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace leapisim {

constexpr std::uint64_t kStackOwner = 0;

class Dispatcher {
  public:
    Dispatcher() = default;
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Queues a copy of `length` bytes at `data` (NULL data: the callback gets
    // a NULL pointer). Starts the thread if it is not running. A NULL
    // callback queues nothing. Returns false when nothing was queued.
    bool Post(std::uint64_t owner, LeCallback callback, void* context, std::uint32_t event,
              const void* data, std::size_t length);

    // The sequence number of the last callback queued.
    std::uint64_t LastQueued();

    // Waits until every callback queued before the call has returned (pumped,
    // runs them on the caller's thread). From inside a callback it returns at
    // once: what follows it cannot run until it returns.
    void Flush();

    // Pumped: no thread of its own, callbacks wait in the queue for Pump or
    // Flush. Switching on stops the thread, switching off starts it for what
    // is queued.
    void SetPumped(bool on);
    // Runs up to `most` queued callbacks, oldest first, on the caller's
    // thread; returns how many ran.
    std::uint32_t Pump(std::uint32_t most);

    // Drops what is queued for `owner` and waits until a running callback of
    // `owner` (other than the caller's own) has returned.
    void Purge(std::uint64_t owner);

    // Drops what was queued up to `lastSeq`, waits for running callbacks
    // (other than the caller's own) and stops the thread: joined, or left to
    // end by itself when the caller is that thread. Callbacks queued after
    // `lastSeq` are delivered by a new thread.
    void Shutdown(std::uint64_t lastSeq);

    std::uint64_t Delivered();
    void ResetDelivered();

  private:
    struct Pending {
        std::uint64_t seq;
        std::uint64_t owner;
        LeCallback callback;
        void* context;
        std::uint32_t event;
        bool hasData;
        std::vector<std::uint8_t> data;
    };
    struct Running {
        std::uint64_t seq;
        std::uint64_t owner;
        std::thread::id thread;
    };

    void Run(std::uint64_t generation);
    // Takes the oldest queued callback and runs it with the mutex let go.
    void DeliverFrontLocked(std::unique_lock<std::mutex>& lock);
    void StartLocked();
    // Stops the thread; the queue stays.
    void StopThread(std::unique_lock<std::mutex>& lock);
    template <class Pred>
    bool AnyRunningElsewhere(Pred pred) const;

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable progress_;
    std::deque<Pending> queue_;
    std::vector<Running> running_;
    std::thread thread_;
    std::uint64_t generation_ = 0;
    std::uint64_t nextSeq_ = 1;
    std::uint64_t delivered_ = 0;
    bool pumped_ = false;
};

}  // namespace leapisim

#endif  // LEAPISIM_DISPATCHER_H
