#include "stack.h"

#include <algorithm>
#include <cstring>

namespace leapisim {

Stack& Stack::Instance() {
    // Leaked on purpose: process exit and library unload must never join or
    // destroy a running dispatcher thread.
    static Stack* const stack = [] {
        auto* s = new Stack;
        s->LoadDefaultWorldLocked();  // nobody else can see it yet
        return s;
    }();
    return *stack;
}

std::uint32_t Stack::Begin(Fn fn, bool needsInit) {
    std::uint32_t code = scripts.Take(fn);
    if (code != 0) return code;
    if (needsInit && !initialized) return LEAPI_ERROR_NOT_INITIALIZED;
    return LEAPI_SUCCESS;
}

Device* Stack::FindDevice(std::uint32_t id) {
    if (id == 0 || id > devices.size()) return nullptr;
    return devices[id - 1].get();
}

Device* Stack::FindDeviceByAddress(const std::uint8_t address[6]) {
    for (auto& d : devices) {
        if (!d->removed && std::memcmp(d->record.address, address, 6) == 0) return d.get();
    }
    return nullptr;
}

Session* Stack::FindSession(std::uint64_t handle) {
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : &it->second;
}

std::uint64_t Stack::SessionOf(std::uint32_t device) const {
    for (const auto& [handle, s] : sessions_) {
        if (s.device == device) return handle;
    }
    return LEAPI_NO_SESSION;
}

std::uint64_t Stack::OpenSession(Session session) {
    std::uint64_t handle = sessionHandles_.Next();
    sessions_.emplace(handle, std::move(session));
    return handle;
}

bool Stack::DropSession(std::uint64_t handle) {
    auto it = sessions_.find(handle);
    if (it == sessions_.end()) return false;
    dropped_[handle] = Dropped{it->second.callback, it->second.context};
    droppedOrder_.push_back(handle);
    sessions_.erase(it);
    if (droppedOrder_.size() > kDroppedKept) {
        dropped_.erase(droppedOrder_.front());
        droppedOrder_.pop_front();
    }
    return true;
}

bool Stack::CloseSession(std::uint64_t handle) {
    if (dropped_.erase(handle) == 1) {
        droppedOrder_.erase(std::find(droppedOrder_.begin(), droppedOrder_.end(), handle));
    }
    return sessions_.erase(handle) == 1;
}

bool Stack::SessionCallback(std::uint64_t handle, LeCallback* callback, void** context) const {
    if (auto it = sessions_.find(handle); it != sessions_.end()) {
        *callback = it->second.callback;
        *context = it->second.context;
        return true;
    }
    if (auto it = dropped_.find(handle); it != dropped_.end()) {
        *callback = it->second.callback;
        *context = it->second.context;
        return true;
    }
    return false;
}

std::uint32_t Stack::SendValue(std::uint64_t session, std::uint16_t valueHandle,
                               std::uint32_t kinds, std::uint8_t flag, const std::uint8_t* bytes,
                               std::size_t length, bool fragment) {
    Session* s = FindSession(session);
    if (s == nullptr) return 0;
    std::uint32_t queued = 0;
    std::vector<std::uint8_t> record;
    std::size_t offset = 0;
    do {
        std::size_t n = fragment ? std::min(length - offset, kValueFragment) : length;
        LeValueEventHeader h{};
        h.session = session;
        h.flag = fragment ? (offset + n < length ? LEAPI_VALUE_FLAG_MORE : 0) : flag;
        h.handle = valueHandle;
        h.length = static_cast<std::uint16_t>(n);
        record.resize(sizeof h + n);
        std::memcpy(record.data(), &h, sizeof h);
        if (n > 0) std::memcpy(record.data() + sizeof h, bytes + offset, n);
        for (const Subscription& sub : s->subscriptions) {
            if (sub.valueHandle != valueHandle || (sub.kind & kinds) == 0) continue;
            if (dispatcher.Post(session, sub.callback, sub.context,
                                LEAPI_EVENT_CHARACTERISTIC_VALUE, record.data(), record.size())) {
                ++queued;
            }
        }
        offset += n;
    } while (offset < length);
    return queued;
}

std::uint32_t Stack::SendRaw(std::uint64_t session, std::uint16_t valueHandle, std::uint32_t event,
                             const void* record, std::size_t length) {
    Session* s = FindSession(session);
    if (s == nullptr) return 0;
    std::uint32_t queued = 0;
    for (const Subscription& sub : s->subscriptions) {
        if (sub.valueHandle == valueHandle &&
            dispatcher.Post(session, sub.callback, sub.context, event, record, length)) {
            ++queued;
        }
    }
    return queued;
}

std::uint64_t Stack::TearDownLocked() {
    initialized = false;
    stackCallback = nullptr;
    stackContext = nullptr;
    ++epoch;
    sessions_.clear();
    dropped_.clear();
    droppedOrder_.clear();
    deviceRuns.Clear();
    serviceRuns.Clear();
    characteristicRuns.Clear();
    descriptorRuns.Clear();
    return dispatcher.LastQueued();
}

std::uint32_t Stack::AddDeviceLocked(const LeDeviceRecord& record, std::uint8_t discoveryFlags) {
    auto d = std::make_unique<Device>();
    d->id = static_cast<std::uint32_t>(devices.size() + 1);
    d->record = record;
    d->discoveryFlags = discoveryFlags;
    d->rssi = record.rssi;
    devices.push_back(std::move(d));
    return devices.back()->id;
}

}  // namespace leapisim
