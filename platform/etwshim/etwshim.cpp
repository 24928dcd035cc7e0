// Event tracing off Windows: a process-wide table of registered providers and
// of the enable requests a controller made, one consumer of written events
// and, when built with LTTng-UST, the tracer's sessions as a second listener.
#include <etwshim/etwshim.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef NOXB_WITH_LTTNG
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "lttngbridge.h"
#endif

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct EnableRequest {
    bool isEnabled = false;
    uint8_t level = 0;
    uint64_t matchAny = 0;
    uint64_t matchAll = 0;

    bool operator==(const EnableRequest& o) const {
        return isEnabled == o.isEnabled && level == o.level && matchAny == o.matchAny &&
               matchAll == o.matchAll;
    }
};

struct Registration {
    GUID id;
    PENABLECALLBACK callback;
    void* context;
    EnableRequest told;   // what the provider was last told
    bool retell = false;  // a controller call asks to tell it again, changed or not
};

struct Tracing {
    // Guards the registrations and the enable requests. Enable callbacks run
    // outside it, so that a callback may log (and so write) without deadlock.
    std::mutex tableLock;
    std::map<REGHANDLE, Registration> registrations;
    std::map<GUID, EnableRequest, GuidLess> enabled;
    REGHANDLE nextHandle = 1;

    // Held while enable callbacks run, and by EventUnregister: once that
    // returns, no callback of the handle runs or will run. Recursive, as a
    // callback may itself unregister or ask for a change.
    std::recursive_mutex deliveryLock;

    // Writers share it; replacing the consumer takes it exclusively, so the
    // old consumer is never called after EtwShimSetConsumer returns.
    std::shared_mutex consumerLock;
    EtwShimConsumer consumer = nullptr;
    void* consumerContext = nullptr;

    // Watches the tracer's sessions while any provider is registered. Each
    // watcher has its own stop signal, so one told to stop stops even when a
    // new one started before it woke.
    std::mutex watchLock;
    std::thread watcher;
    int watcherStop = -1;
};

// Never destroyed: providers may unregister from static destructors that run
// after this library's own would have.
Tracing& State() {
    static Tracing* tracing = new Tracing;
    return *tracing;
}

// The tracer's sessions ask for every keyword, up to the most verbose level
// one of them enabled.
EnableRequest TracerRequest() {
#ifdef NOXB_WITH_LTTNG
    const uint8_t level = NoxbLttngEnabledLevel();
    if (level != 0) return EnableRequest{true, level, ~uint64_t{0}, 0};
#endif
    return EnableRequest{};
}

// What a provider is asked for when both the controller and the tracer may
// listen: whatever either wants (level 0 is every level).
EnableRequest Merge(const EnableRequest& a, const EnableRequest& b) {
    if (!a.isEnabled) return b;
    if (!b.isEnabled) return a;
    const uint8_t level = (a.level == 0 || b.level == 0) ? 0 : std::max(a.level, b.level);
    return EnableRequest{true, level, a.matchAny | b.matchAny, a.matchAll & b.matchAll};
}

// Tells every registered provider whose merged request changed (or that a
// controller call marked) what it is now asked for.
void Deliver(Tracing& t) {
    std::lock_guard<std::recursive_mutex> delivering(t.deliveryLock);
    const EnableRequest tracer = TracerRequest();
    std::vector<std::pair<REGHANDLE, Registration>> calls;
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        for (auto& [handle, r] : t.registrations) {
            auto it = t.enabled.find(r.id);
            const EnableRequest want =
                Merge(it != t.enabled.end() ? it->second : EnableRequest{}, tracer);
            if (want == r.told && !r.retell) continue;
            r.told = want;
            r.retell = false;
            calls.emplace_back(handle, r);
        }
    }
    for (const auto& [handle, r] : calls) {
        {
            // A callback run just before may have unregistered this one.
            std::lock_guard<std::mutex> guard(t.tableLock);
            if (t.registrations.count(handle) == 0) continue;
        }
        if (r.callback == nullptr) continue;
        const EnableRequest& q = r.told;
        r.callback(
            &r.id,
            q.isEnabled ? EVENT_CONTROL_CODE_ENABLE_PROVIDER : EVENT_CONTROL_CODE_DISABLE_PROVIDER,
            q.level, q.matchAny, q.matchAll, nullptr, r.context);
    }
}

void MarkRetell(Tracing& t, const GUID& id) {
    for (auto& entry : t.registrations) {
        if (std::memcmp(&entry.second.id, &id, sizeof(GUID)) == 0) entry.second.retell = true;
    }
}

#ifdef NOXB_WITH_LTTNG
// A session that starts or stops reaches the providers within a tenth of a
// second while a session daemon runs; no callback reaches the tracer, so the
// watcher asks. With no daemon there is no session to ask about: the watcher
// sleeps until a daemon's socket appears and wakes nobody meanwhile.
constexpr int kWatchPeriodMs = 100;
constexpr const char* kDaemonSocket = "lttng-ust-sock-8";

// Where the tracer's library looks for the system's and the user's session
// daemons, and the folders those appear in.
std::vector<std::string> DaemonFolders() {
    std::vector<std::string> folders = {"/var/run", "/var/run/lttng"};
    const char* home = std::getenv("LTTNG_HOME");
    if (home == nullptr || *home == 0) home = std::getenv("HOME");
    if (home != nullptr && *home != 0) {
        folders.emplace_back(home);
        folders.emplace_back(std::string(home) + "/.lttng");
    }
    return folders;
}

bool DaemonRunning(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        struct stat info;
        if (stat((folder + "/" + kDaemonSocket).c_str(), &info) == 0) return true;
    }
    return false;
}

void Watch(Tracing& t, int stop) {
    pthread_setname_np(pthread_self(), "etwshim-watch");
    const std::vector<std::string> folders = DaemonFolders();
    // Without change notification, the watcher asks on every period.
    const int changes = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (;;) {
        if (changes >= 0) {
            // Folders that appear since are watched from now on.
            for (const std::string& folder : folders) {
                inotify_add_watch(changes, folder.c_str(),
                                  IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_ONLYDIR);
            }
        }
        const bool asking = changes < 0 || DaemonRunning(folders);
        pollfd waits[2] = {{stop, POLLIN, 0}, {changes, POLLIN, 0}};
        const int woken = poll(waits, changes >= 0 ? 2 : 1, asking ? kWatchPeriodMs : -1);
        if (woken < 0) {
            // Leaving here would close the stop signal before it is given.
            if (errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(kWatchPeriodMs));
            continue;
        }
        if ((waits[0].revents & POLLIN) != 0) break;
        if ((waits[1].revents & POLLIN) != 0) {
            char events[4096];
            while (read(changes, events, sizeof events) > 0) {
            }
        }
        Deliver(t);
    }
    if (changes >= 0) close(changes);
    // The signal is given under watchLock: closing under it too orders the
    // close after the write, which the kernel alone does not show a race checker.
    std::lock_guard<std::mutex> lock(t.watchLock);
    close(stop);
}
#endif

// Called with tableLock held, on a change of the number of registrations.
void StartWatching([[maybe_unused]] Tracing& t) {
#ifdef NOXB_WITH_LTTNG
    std::lock_guard<std::mutex> lock(t.watchLock);
    if (t.watcher.joinable()) return;
    const int stop = eventfd(0, EFD_CLOEXEC);
    if (stop < 0) return;  // the tracer's sessions are then only read on registering
    t.watcherStop = stop;
    t.watcher = std::thread(Watch, std::ref(t), stop);
#endif
}

std::thread StopWatching([[maybe_unused]] Tracing& t) {
#ifdef NOXB_WITH_LTTNG
    std::lock_guard<std::mutex> lock(t.watchLock);
    if (t.watcherStop >= 0) {
        // The watcher closes its signal on leaving, after it has read it.
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(t.watcherStop, &one, sizeof one);
        t.watcherStop = -1;
    }
    return std::move(t.watcher);
#else
    return std::thread();
#endif
}

#ifdef NOXB_WITH_LTTNG
void WriteToTracer(const EVENT_DESCRIPTOR& descriptor, uint32_t count,
                   const EVENT_DATA_DESCRIPTOR* items) {
    NoxbTraceRecord record{};
    record.level = descriptor.Level;
    record.id = descriptor.Id;
    // A text is read no further than its item's size; one without its
    // terminator there is copied and terminated.
    std::string copies[NOXB_TRACE_TEXTS];
    for (uint32_t i = 0; i < NOXB_TRACE_TEXTS; ++i) {
        const char* text = i < count
                               ? reinterpret_cast<const char*>(static_cast<uintptr_t>(items[i].Ptr))
                               : nullptr;
        if (text == nullptr) {
            record.text[i] = "";
        } else if (memchr(text, 0, items[i].Size) != nullptr) {
            record.text[i] = text;
        } else {
            copies[i].assign(text, items[i].Size);
            record.text[i] = copies[i].c_str();
        }
    }
    NoxbLttngWrite(&record);
}
#endif

}  // namespace

extern "C" {

uint32_t EventRegister(const GUID* providerId, PENABLECALLBACK enableCallback,
                       void* callbackContext, REGHANDLE* regHandle) {
    if (providerId == nullptr || regHandle == nullptr) return ETWSHIM_ERROR_INVALID_PARAMETER;
    Tracing& t = State();
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        *regHandle = t.nextHandle++;
        t.registrations.emplace(*regHandle,
                                Registration{*providerId, enableCallback, callbackContext, {}});
        StartWatching(t);
    }
    // A session that listened before the provider registered tells it now.
    Deliver(t);
    return ETWSHIM_ERROR_SUCCESS;
}

uint32_t EventUnregister(REGHANDLE regHandle) {
    Tracing& t = State();
    std::thread watcher;
    {
        std::lock_guard<std::recursive_mutex> delivering(t.deliveryLock);
        std::lock_guard<std::mutex> guard(t.tableLock);
        if (t.registrations.erase(regHandle) != 1) return ETWSHIM_ERROR_INVALID_HANDLE;
        if (t.registrations.empty()) watcher = StopWatching(t);
    }
    if (watcher.joinable()) {
        // The watcher itself may be the caller, from inside a callback.
        if (watcher.get_id() == std::this_thread::get_id()) {
            watcher.detach();
        } else {
            watcher.join();
        }
    }
    return ETWSHIM_ERROR_SUCCESS;
}

uint32_t EventWrite(REGHANDLE regHandle, const EVENT_DESCRIPTOR* eventDescriptor,
                    uint32_t userDataCount, EVENT_DATA_DESCRIPTOR* userData) {
    if (eventDescriptor == nullptr || (userDataCount != 0 && userData == nullptr)) {
        return ETWSHIM_ERROR_INVALID_PARAMETER;
    }
    Tracing& t = State();
    GUID id;
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        auto it = t.registrations.find(regHandle);
        if (it == t.registrations.end()) return ETWSHIM_ERROR_INVALID_HANDLE;
        id = it->second.id;
    }
#ifdef NOXB_WITH_LTTNG
    WriteToTracer(*eventDescriptor, userDataCount, userData);
#endif
    std::shared_lock<std::shared_mutex> guard(t.consumerLock);
    if (t.consumer != nullptr) {
        t.consumer(&id, eventDescriptor, userDataCount, userData, t.consumerContext);
    }
    return ETWSHIM_ERROR_SUCCESS;
}

void EtwShimEnableProvider(const GUID* providerId, uint8_t level, uint64_t matchAnyKeyword,
                           uint64_t matchAllKeyword) {
    if (providerId == nullptr) return;
    Tracing& t = State();
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        t.enabled[*providerId] = EnableRequest{true, level, matchAnyKeyword, matchAllKeyword};
        MarkRetell(t, *providerId);
    }
    Deliver(t);
}

void EtwShimDisableProvider(const GUID* providerId) {
    if (providerId == nullptr) return;
    Tracing& t = State();
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        t.enabled.erase(*providerId);
        MarkRetell(t, *providerId);
    }
    Deliver(t);
}

void EtwShimSetConsumer(EtwShimConsumer consumer, void* consumerContext) {
    Tracing& t = State();
    std::unique_lock<std::shared_mutex> guard(t.consumerLock);
    t.consumer = consumer;
    t.consumerContext = consumerContext;
}

uint32_t EtwShimRegisteredCount(void) {
    Tracing& t = State();
    std::lock_guard<std::mutex> guard(t.tableLock);
    return static_cast<uint32_t>(t.registrations.size());
}

}  // extern "C"
