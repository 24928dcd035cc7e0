#include "journal.h"

#include <algorithm>
#include <cstring>

namespace leapisim {

namespace {

constexpr const char* kNames[kFunctionCount] = {
    "LEAPI_Initialize",
    "LEAPI_Uninitialize",
    "LEAPI_DevicesDiscoveryStart",
    "LEAPI_DevicesDiscoveryGetNext",
    "LEAPI_DevicesDiscoveryEnd",
    "LEAPI_GATTSessionEstablishEx",
    "LEAPI_GATTSessionClose",
    "LEAPI_GATTSessionRSSIGet",
    "LEAPI_ServicesDiscoveryStartByUUID",
    "LEAPI_ServicesDiscoveryGetNext",
    "LEAPI_ServicesDiscoveryEnd",
    "LEAPI_CharacteristicsDiscoveryStartByUUID",
    "LEAPI_CharacteristicsDiscoveryGetNext",
    "LEAPI_CharacteristicsDiscoveryEnd",
    "LEAPI_CharacteristicNotificationSubscribe",
    "LEAPI_CharacteristicIndicationSubscribe",
    "LEAPI_CharacteristicDescriptorsDiscoveryStart",
    "LEAPI_CharacteristicDescriptorsDiscoveryGetNext",
    "LEAPI_CharacteristicDescriptorsDiscoveryEnd",
    "LEAPI_CharacteristicDescriptorWrite",
    "LEAPI_CharacteristicReadLong",
    "LEAPI_CharacteristicWriteLong",
};

std::size_t Index(Fn fn) { return static_cast<std::size_t>(fn); }

}  // namespace

const char* FunctionName(Fn fn) { return kNames[Index(fn)]; }

bool FunctionByName(const char* name, Fn* out) {
    if (name == nullptr) return false;
    for (std::size_t i = 0; i < kFunctionCount; ++i) {
        if (std::strcmp(kNames[i], name) == 0) {
            *out = static_cast<Fn>(i);
            return true;
        }
    }
    return false;
}

void Scripts::Add(Fn fn, std::uint32_t code, std::uint32_t count) {
    if (count > 0) queues_[Index(fn)].push_back({code, count});
}

std::uint32_t Scripts::Take(Fn fn) {
    std::deque<Entry>& q = queues_[Index(fn)];
    if (q.empty()) return 0;
    std::uint32_t code = q.front().code;
    if (--q.front().remaining == 0) q.pop_front();
    return code;
}

void Scripts::Clear() {
    for (auto& q : queues_) q.clear();
}

void Journal::Add(Fn fn, std::uint32_t result, std::initializer_list<std::uint64_t> args,
                  const void* data, std::size_t length) {
    if (!enabled_) return;
    Entry e{fn, result, 0, {}, {}};
    for (std::uint64_t a : args) {
        if (e.argCount == 6) break;
        e.args[e.argCount++] = a;
    }
    if (data != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        e.data.assign(bytes, bytes + std::min<std::size_t>(length, sizeof(LeSimCall::data)));
    }
    if (entries_.size() == kCapacity) entries_.pop_front();
    entries_.push_back(std::move(e));
}

void Journal::AddWithValue(Fn fn, std::uint32_t result, std::initializer_list<std::uint64_t> args,
                           const CharacteristicValue* value) {
    if (!enabled_) return;
    if (value == nullptr) {
        Add(fn, result, args);
        return;
    }
    std::size_t length = std::min<std::size_t>(value->length, LEAPI_MAX_VALUE_LENGTH);
    Add(fn, result, args, value, 4 + length);
}

std::uint32_t Journal::Count() const { return static_cast<std::uint32_t>(entries_.size()); }

bool Journal::Get(std::uint32_t index, LeSimCall* out) const {
    if (index >= entries_.size()) return false;
    const Entry& e = entries_[index];
    std::memset(out, 0, sizeof *out);
    std::strncpy(out->function, FunctionName(e.fn), sizeof out->function - 1);
    out->result = e.result;
    out->argCount = e.argCount;
    std::copy(e.args, e.args + e.argCount, out->args);
    out->dataLength = static_cast<std::uint32_t>(e.data.size());
    std::copy(e.data.begin(), e.data.end(), out->data);
    return true;
}

void Journal::Clear() { entries_.clear(); }

void Journal::Enable(bool on) { enabled_ = on; }

}  // namespace leapisim
