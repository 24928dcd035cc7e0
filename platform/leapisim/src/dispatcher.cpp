#include "dispatcher.h"

#include <algorithm>

namespace leapisim {

template <class Pred>
bool Dispatcher::AnyRunningElsewhere(Pred pred) const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(running_.begin(), running_.end(),
                       [&](const Running& r) { return r.thread != self && pred(r); });
}

bool Dispatcher::Post(std::uint64_t owner, LeCallback callback, void* context, std::uint32_t event,
                      const void* data, std::size_t length) {
    if (callback == nullptr) return false;
    Pending p{0, owner, callback, context, event, data != nullptr, {}};
    if (data != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        p.data.assign(bytes, bytes + length);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    p.seq = nextSeq_++;
    queue_.push_back(std::move(p));
    if (!pumped_ && !thread_.joinable()) StartLocked();
    work_.notify_one();
    return true;
}

void Dispatcher::StartLocked() { thread_ = std::thread(&Dispatcher::Run, this, generation_); }

std::uint64_t Dispatcher::LastQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nextSeq_ - 1;
}

void Dispatcher::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (std::any_of(running_.begin(), running_.end(),
                    [&](const Running& r) { return r.thread == self; })) {
        return;
    }
    const std::uint64_t target = nextSeq_ - 1;
    while (pumped_ && !queue_.empty() && queue_.front().seq <= target) DeliverFrontLocked(lock);
    progress_.wait(lock, [&] {
        bool queued = !queue_.empty() && queue_.front().seq <= target;
        return !queued && !AnyRunningElsewhere([&](const Running& r) { return r.seq <= target; });
    });
}

void Dispatcher::SetPumped(bool on) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (pumped_ == on) return;
    pumped_ = on;
    if (on) {
        StopThread(lock);
    } else if (!queue_.empty() && !thread_.joinable()) {
        StartLocked();
    }
}

std::uint32_t Dispatcher::Pump(std::uint32_t most) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint32_t ran = 0;
    for (; ran < most && pumped_ && !queue_.empty(); ++ran) DeliverFrontLocked(lock);
    return ran;
}

void Dispatcher::Purge(std::uint64_t owner) {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Pending& p) { return p.owner == owner; }),
                 queue_.end());
    progress_.notify_all();  // a Flush may have been waiting on a purged callback
    progress_.wait(lock, [&] {
        return !AnyRunningElsewhere([&](const Running& r) { return r.owner == owner; });
    });
}

void Dispatcher::Shutdown(std::uint64_t lastSeq) {
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const Pending& p) { return p.seq <= lastSeq; }),
                 queue_.end());
    progress_.notify_all();
    progress_.wait(lock, [&] {
        return !AnyRunningElsewhere([&](const Running& r) { return r.seq <= lastSeq; });
    });
    StopThread(lock);
    if (!pumped_ && !queue_.empty() && !thread_.joinable()) StartLocked();
}

void Dispatcher::StopThread(std::unique_lock<std::mutex>& lock) {
    ++generation_;
    work_.notify_all();
    std::thread old = std::move(thread_);
    lock.unlock();
    if (old.joinable()) {
        if (old.get_id() == std::this_thread::get_id()) {
            old.detach();  // our own thread: it ends when this callback returns
        } else {
            old.join();
        }
    }
    lock.lock();
}

std::uint64_t Dispatcher::Delivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

void Dispatcher::ResetDelivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    delivered_ = 0;
}

void Dispatcher::Run(std::uint64_t generation) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return generation_ != generation || !queue_.empty(); });
        if (generation_ != generation) return;
        DeliverFrontLocked(lock);
    }
}

void Dispatcher::DeliverFrontLocked(std::unique_lock<std::mutex>& lock) {
    Pending p = std::move(queue_.front());
    queue_.pop_front();
    running_.push_back({p.seq, p.owner, std::this_thread::get_id()});
    lock.unlock();
    p.callback(p.event, p.hasData ? p.data.data() : nullptr, p.context);
    lock.lock();
    running_.erase(std::find_if(running_.begin(), running_.end(),
                                [&](const Running& r) { return r.seq == p.seq; }));
    ++delivered_;
    progress_.notify_all();
}

}  // namespace leapisim
