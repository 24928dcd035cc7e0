// The C interface over the provider module: a host of the module like any
// other, which loads it at run time and turns its exceptions into statuses.
#include <noxb/BleModel.h>
#include <noxb/noxb.h>
#include <noxb/noxb_c.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "hosttext.h"
#include "modulelibrary.h"

namespace {

using ProviderError = noxb::BluetoothProvider::BluetoothProviderException;

thread_local std::string lastError;
thread_local std::int32_t lastNativeCode = 0;
// Above 0 while this thread runs a host's event.
thread_local int eventDepth = 0;

noxb_status Fail(noxb_status status, std::string text, std::int32_t native = 0) {
    lastError = std::move(text);
    lastNativeCode = native;
    return status;
}

// Runs one call of the interface: nothing thrown crosses it.
template <typename Call>
noxb_status Guarded(Call&& call) noexcept {
    try {
        if (!lastError.empty()) lastError.clear();
        lastNativeCode = 0;
        return call();
    } catch (const ProviderError& e) {
        const int kind = e.ErrorType();
        const noxb_status status = kind == NOXB_CONNECTION_FAILED   ? NOXB_CONNECTION_FAILED
                                   : kind == NOXB_SERVICE_NOT_FOUND ? NOXB_SERVICE_NOT_FOUND
                                                                    : NOXB_GENERAL_FAILURE;
        return Fail(status, e.what(), e.nativeCode);
    } catch (const std::bad_alloc&) {
        return Fail(NOXB_GENERAL_FAILURE, "out of memory");
    } catch (const std::exception& e) {
        return Fail(NOXB_GENERAL_FAILURE, e.what());
    } catch (...) {
        return Fail(NOXB_GENERAL_FAILURE, "unknown failure");
    }
}

// Runs a host's event: nothing it throws unwinds into the stack's thread, and
// the calls it makes of this library are refused.
template <typename Event>
void RunEvent(Event&& event) noexcept {
    ++eventDepth;
    try {
        event();
    } catch (...) {
        // A C++ host's event threw: it has no caller to report to.
    }
    --eventDepth;
}

// Handles given out and not yet closed or freed: a stale one is refused
// instead of being followed. Calls hold the shared side while they look at a
// handle; closing and freeing take the exclusive side.
// Providers and lists apart, so that one is never taken for the other.
std::shared_mutex registryGuard;
std::unordered_set<const void*> liveHandles[2];

template <typename Handle>
std::unordered_set<const void*>& LiveOfKind() {
    return liveHandles[std::is_same_v<Handle, noxb_provider> ? 0 : 1];
}

template <typename Handle>
bool IsLiveLocked(const Handle* object) {
    return object != nullptr && LiveOfKind<Handle>().count(object) != 0;
}

template <typename Handle>
void Register(const Handle* object) {
    std::unique_lock<std::shared_mutex> hold(registryGuard);
    LiveOfKind<Handle>().insert(object);
}

// Takes a handle out of the registry; false if it was not in it.
template <typename Handle>
bool Unregister(const Handle* object) {
    std::unique_lock<std::shared_mutex> hold(registryGuard);
    return object != nullptr && LiveOfKind<Handle>().erase(object) != 0;
}

}  // namespace

struct noxb_provider final : IBleGattEvents {
    explicit noxb_provider(const std::string& path) : library(path) {}

    void OnSessionEstablished(void* /*ctx*/, std::uint64_t session) override {
        if (events.session_established == nullptr) return;
        RunEvent([&] { events.session_established(events.context, session); });
    }
    void OnDeviceDisconnected(void* /*ctx*/, BleDevice* device) override {
        if (events.device_disconnected == nullptr || device == nullptr) return;
        RunEvent([&] {
            events.device_disconnected(events.context,
                                       AddressText(device->deviceInfo.address).c_str());
        });
    }
    void OnCharacteristicData(void* /*ctx*/, BleCharacteristicInfo* info) override {
        if (info == nullptr || !info->characteristic || info->device == nullptr) return;
        RunEvent([&] {
            // Taken, so that the next event of this holder reports only newer bytes.
            const std::string bytes = info->characteristic->TakeNotifications();
            if (bytes.empty() || events.characteristic_data == nullptr) return;
            events.characteristic_data(
                events.context, AddressText(info->device->deviceInfo.address).c_str(),
                reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        });
    }

    ModuleLibrary library;
    noxb::IBTProvider* module = nullptr;
    noxb_events events{};
    std::atomic<std::uint64_t> scans{0};  // which scan made a list, for its entries

    // Calls running; close waits for them to end.
    std::atomic<int> calls{0};
    std::atomic<bool> closing{false};
    std::mutex closeGuard;
    std::condition_variable closeWake;

    std::mutex pendingGuard;
    std::map<std::uint32_t, std::vector<std::uint8_t>> pending;  // too big for the last buffer
};

struct noxb_device_list {
    const noxb_provider* provider = nullptr;
    std::uint64_t scan = 0;
    std::vector<BleDeviceEntry> entries;
    std::vector<std::string> names, addresses;
};

namespace {

// One call of a provider: refuses a provider that is not open (or a call
// from an event), and keeps the provider from being closed while it runs.
class ProviderCall {
  public:
    explicit ProviderCall(noxb_provider* provider) {
        if (eventDepth > 0) {
            status = Fail(NOXB_INVALID_ARGUMENT, "the provider is not to be called from an event");
            return;
        }
        std::shared_lock<std::shared_mutex> hold(registryGuard);
        if (!IsLiveLocked(provider)) {
            status = Fail(NOXB_INVALID_ARGUMENT,
                          provider == nullptr ? "provider is NULL" : "not an open provider");
            return;
        }
        provider->calls.fetch_add(1);
        held = provider;
    }
    ~ProviderCall() {
        if (held == nullptr) return;
        if (held->calls.fetch_sub(1) == 1 && held->closing.load()) {
            std::lock_guard<std::mutex> hold(held->closeGuard);
            held->closeWake.notify_all();
        }
    }
    ProviderCall(const ProviderCall&) = delete;
    ProviderCall& operator=(const ProviderCall&) = delete;

    noxb_status status = NOXB_OK;

  private:
    noxb_provider* held = nullptr;
};

noxb_status ListRefused(const noxb_device_list* list) {
    return Fail(NOXB_INVALID_ARGUMENT,
                list == nullptr ? "list is NULL" : "not a device list (freed, or never made)");
}

noxb_status NoEntry(std::size_t index, std::size_t count) {
    return Fail(NOXB_INVALID_ARGUMENT, "no entry " + std::to_string(index) + " in the list (" +
                                           std::to_string(count) + " entries)");
}

// A copy of entry `index` of `list`, which must be the provider's last scan.
noxb_status EntryOfLastScan(const noxb_provider* provider, const noxb_device_list* list,
                            std::size_t index, BleDeviceEntry& entry) {
    std::shared_lock<std::shared_mutex> hold(registryGuard);
    if (!IsLiveLocked(list)) return ListRefused(list);
    if (list->provider != provider || list->scan != provider->scans.load()) {
        return Fail(NOXB_INVALID_ARGUMENT,
                    "the list is not the provider's last scan: its addresses are not entries "
                    "of the last scan");
    }
    if (index >= list->entries.size()) return NoEntry(index, list->entries.size());
    entry = list->entries[index];
    return NOXB_OK;
}

// An operation on entry `index` of the provider's last scan, its result in `out`.
template <typename Out, typename Operation>
noxb_status OnEntry(noxb_provider* provider, const noxb_device_list* list, std::size_t index,
                    Out* out, const char* outIsNull, Operation&& operation) {
    return Guarded([&] {
        if (out == nullptr) return Fail(NOXB_INVALID_ARGUMENT, outIsNull);
        const ProviderCall call(provider);
        if (call.status != NOXB_OK) return call.status;
        BleDeviceEntry entry;
        if (noxb_status s = EntryOfLastScan(provider, list, index, entry)) return s;
        *out = operation(entry);
        return NOXB_OK;
    });
}

// Scratch for the module's vector parameters: a thread's calls reuse one.
thread_local std::vector<std::uint8_t> sendBytes;
thread_local std::vector<std::uint8_t> receiveBytes;

}  // namespace

extern "C" {

const char* noxb_last_error() { return lastError.c_str(); }

std::int32_t noxb_last_native_code() { return lastNativeCode; }

noxb_status noxb_provider_open(const char* module_path, const noxb_events* events,
                               noxb_provider** provider) {
    return Guarded([&] {
        if (provider == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "provider is NULL");
        *provider = nullptr;
        if (eventDepth > 0) {
            return Fail(NOXB_INVALID_ARGUMENT, "a provider is not to be opened from an event");
        }
        static const char anchor = 0;  // any address inside this library
        const std::string path =
            module_path != nullptr ? std::string(module_path)
                                   : ModuleLibrary::FolderOf(&anchor) + ModuleLibrary::kModuleFile;
        auto made = std::make_unique<noxb_provider>(path);
        if (!made->library.Loaded()) {
            return Fail(NOXB_MODULE_NOT_FOUND, "cannot load the module: " + made->library.Error());
        }
        const auto create =
            made->library.Export<noxb::CreateBleGattInstanceFn>(noxb::kCreateBleGattInstanceName);
        const auto createWithEvents = made->library.Export<noxb::CreateBleGattInstanceWithEventsFn>(
            noxb::kCreateBleGattInstanceWithEventsName);
        if (create == nullptr || createWithEvents == nullptr) {
            return Fail(NOXB_MODULE_NOT_FOUND, path + " is not the provider module");
        }
        if (events != nullptr) {
            made->events = *events;
            made->module = createWithEvents(nullptr, made.get());
        } else {
            made->module = create();
        }
        if (made->module == nullptr)
            return Fail(NOXB_GENERAL_FAILURE, "the module made no provider");
        *provider = made.release();
        Register(*provider);
        return NOXB_OK;
    });
}

noxb_status noxb_provider_close(noxb_provider* provider) {
    return Guarded([&] {
        if (eventDepth > 0) {
            return Fail(NOXB_INVALID_ARGUMENT, "the provider is not to be closed from an event");
        }
        if (!Unregister(provider)) {
            return Fail(NOXB_INVALID_ARGUMENT,
                        provider == nullptr ? "provider is NULL" : "not an open provider");
        }
        // No new call can begin: wait for those still running.
        provider->closing.store(true);
        {
            std::unique_lock<std::mutex> hold(provider->closeGuard);
            provider->closeWake.wait(hold, [&] { return provider->calls.load() == 0; });
        }
        delete provider->module;  // through slot 0; the stack's events end with it
        delete provider;          // unloads the module
        return NOXB_OK;
    });
}

noxb_status noxb_scan(noxb_provider* provider, std::int64_t duration_ms, noxb_device_list** list) {
    return Guarded([&] {
        if (list == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "list is NULL");
        *list = nullptr;
        const ProviderCall call(provider);
        if (call.status != NOXB_OK) return call.status;
        auto made = std::make_unique<noxb_device_list>();
        made->entries = provider->module->Scan(duration_ms);
        for (const BleDeviceEntry& entry : made->entries) {
            made->names.push_back(ToUtf8(entry.name));
            made->addresses.push_back(ToUtf8(entry.address));
        }
        made->provider = provider;
        made->scan = ++provider->scans;
        *list = made.release();
        Register(*list);
        return NOXB_OK;
    });
}

noxb_status noxb_device_list_count(const noxb_device_list* list, size_t* count) {
    return Guarded([&] {
        if (count == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "count is NULL");
        std::shared_lock<std::shared_mutex> hold(registryGuard);
        if (!IsLiveLocked(list)) return ListRefused(list);
        *count = list->entries.size();
        return NOXB_OK;
    });
}

noxb_status noxb_device_list_get(const noxb_device_list* list, size_t index, noxb_device* device) {
    return Guarded([&] {
        if (device == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "device is NULL");
        std::shared_lock<std::shared_mutex> hold(registryGuard);
        if (!IsLiveLocked(list)) return ListRefused(list);
        if (index >= list->entries.size()) return NoEntry(index, list->entries.size());
        device->name = list->names[index].c_str();
        device->address = list->addresses[index].c_str();
        device->first_pass = list->entries[index].firstPass ? 1 : 0;
        device->connectable = list->entries[index].connectable ? 1 : 0;
        return NOXB_OK;
    });
}

noxb_status noxb_device_list_free(noxb_device_list* list) {
    return Guarded([&] {
        if (!Unregister(list)) return ListRefused(list);
        delete list;
        return NOXB_OK;
    });
}

noxb_status noxb_connect(noxb_provider* provider, const noxb_device_list* list, size_t index,
                         std::uint32_t* handle) {
    return OnEntry(provider, list, index, handle, "handle is NULL",
                   [&](const BleDeviceEntry& entry) { return provider->module->Connect(entry); });
}

noxb_status noxb_disconnect(noxb_provider* provider, std::uint32_t handle) {
    return Guarded([&] {
        const ProviderCall call(provider);
        if (call.status != NOXB_OK) return call.status;
        {
            std::lock_guard<std::mutex> hold(provider->pendingGuard);
            provider->pending.erase(handle);
        }
        provider->module->Disconnect(handle);
        return NOXB_OK;
    });
}

noxb_status noxb_send(noxb_provider* provider, std::uint32_t handle, const std::uint8_t* data,
                      size_t length) {
    return Guarded([&] {
        if (data == nullptr && length != 0) return Fail(NOXB_INVALID_ARGUMENT, "data is NULL");
        const ProviderCall call(provider);
        if (call.status != NOXB_OK) return call.status;
        // The module sends no more than a value holds: copy no more.
        sendBytes.assign(data, data + std::min<std::size_t>(length, NOXB_MAX_VALUE_LENGTH));
        provider->module->Send(handle, sendBytes);
        return NOXB_OK;
    });
}

noxb_status noxb_receive(noxb_provider* provider, std::uint32_t handle, std::int64_t timeout_ms,
                         std::uint8_t* buffer, size_t capacity, size_t* length) {
    return Guarded([&] {
        if (length == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "length is NULL");
        if (buffer == nullptr && capacity != 0)
            return Fail(NOXB_INVALID_ARGUMENT, "buffer is NULL");
        *length = 0;
        const ProviderCall call(provider);
        if (call.status != NOXB_OK) return call.status;
        std::vector<std::uint8_t>& bytes = receiveBytes;
        bytes.clear();
        bool kept = false;
        {
            std::lock_guard<std::mutex> hold(provider->pendingGuard);
            auto it = provider->pending.find(handle);
            if (it != provider->pending.end()) {
                bytes.swap(it->second);
                provider->pending.erase(it);
                kept = true;
            }
        }
        if (!kept) provider->module->Receive(handle, timeout_ms, bytes);
        *length = bytes.size();
        if (bytes.size() > capacity) {
            std::lock_guard<std::mutex> hold(provider->pendingGuard);
            provider->pending[handle] = bytes;
            return Fail(NOXB_BUFFER_TOO_SMALL,
                        "the value has " + std::to_string(bytes.size()) + " bytes, the buffer " +
                            std::to_string(capacity) + ": kept for the next receive");
        }
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        return NOXB_OK;
    });
}

noxb_status noxb_rssi(noxb_provider* provider, const noxb_device_list* list, size_t index,
                      std::int16_t* rssi) {
    return OnEntry(provider, list, index, rssi, "rssi is NULL",
                   [&](const BleDeviceEntry& entry) { return provider->module->GetRSSI(entry); });
}

}  // extern "C"
