// Event tracing off Windows: a process-wide table of registered providers and
// of the enable requests a controller made, and one consumer of written events.
#include <etwshim/etwshim.h>

#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct Registration {
    GUID id;
    PENABLECALLBACK callback;
    void* context;
};

struct EnableRequest {
    uint8_t level;
    uint64_t matchAny;
    uint64_t matchAll;
};

struct Tracing {
    // Guards the registrations and the enable requests. Enable callbacks run
    // outside it, so that a callback may log (and so write) without deadlock.
    std::mutex tableLock;
    std::map<REGHANDLE, Registration> registrations;
    std::map<GUID, EnableRequest, GuidLess> enabled;
    REGHANDLE nextHandle = 1;

    // Writers share it; replacing the consumer takes it exclusively, so the
    // old consumer is never called after EtwShimSetConsumer returns.
    std::shared_mutex consumerLock;
    EtwShimConsumer consumer = nullptr;
    void* consumerContext = nullptr;
};

// Never destroyed: providers may unregister from static destructors that run
// after this library's own would have.
Tracing& State() {
    static Tracing* tracing = new Tracing;
    return *tracing;
}

std::vector<Registration> RegistrationsOf(Tracing& t, const GUID& id) {
    std::vector<Registration> found;
    for (const auto& entry : t.registrations) {
        if (std::memcmp(&entry.second.id, &id, sizeof(GUID)) == 0) found.push_back(entry.second);
    }
    return found;
}

void CallEnable(const Registration& r, uint32_t code, const EnableRequest& request) {
    if (r.callback != nullptr) {
        r.callback(&r.id, code, request.level, request.matchAny, request.matchAll, nullptr,
                   r.context);
    }
}

}  // namespace

extern "C" {

uint32_t EventRegister(const GUID* providerId, PENABLECALLBACK enableCallback,
                       void* callbackContext, REGHANDLE* regHandle) {
    if (providerId == nullptr || regHandle == nullptr) return ETWSHIM_ERROR_INVALID_PARAMETER;
    Tracing& t = State();
    Registration r{*providerId, enableCallback, callbackContext};
    bool isEnabled = false;
    EnableRequest request{};
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        *regHandle = t.nextHandle++;
        t.registrations.emplace(*regHandle, r);
        auto it = t.enabled.find(*providerId);
        if (it != t.enabled.end()) {
            isEnabled = true;
            request = it->second;
        }
    }
    // A session that enabled the provider before it registered tells it now.
    if (isEnabled) CallEnable(r, EVENT_CONTROL_CODE_ENABLE_PROVIDER, request);
    return ETWSHIM_ERROR_SUCCESS;
}

uint32_t EventUnregister(REGHANDLE regHandle) {
    Tracing& t = State();
    std::lock_guard<std::mutex> guard(t.tableLock);
    return t.registrations.erase(regHandle) == 1 ? ETWSHIM_ERROR_SUCCESS
                                                 : ETWSHIM_ERROR_INVALID_HANDLE;
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
    EnableRequest request{level, matchAnyKeyword, matchAllKeyword};
    std::vector<Registration> targets;
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        t.enabled[*providerId] = request;
        targets = RegistrationsOf(t, *providerId);
    }
    for (const Registration& r : targets)
        CallEnable(r, EVENT_CONTROL_CODE_ENABLE_PROVIDER, request);
}

void EtwShimDisableProvider(const GUID* providerId) {
    if (providerId == nullptr) return;
    Tracing& t = State();
    std::vector<Registration> targets;
    {
        std::lock_guard<std::mutex> guard(t.tableLock);
        t.enabled.erase(*providerId);
        targets = RegistrationsOf(t, *providerId);
    }
    for (const Registration& r : targets) {
        CallEnable(r, EVENT_CONTROL_CODE_DISABLE_PROVIDER, EnableRequest{});
    }
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
