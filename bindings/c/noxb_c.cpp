// The C interface over the provider module: a host of the module like any
// other, which loads it at run time and turns its exceptions into statuses.
#include <noxb/BleModel.h>
#include <noxb/noxb.h>
#include <noxb/noxb_c.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "modulelibrary.h"

namespace {

using ProviderError = noxb::BluetoothProvider::BluetoothProviderException;

thread_local std::string lastError;
thread_local std::int32_t lastNativeCode = 0;

noxb_status Fail(noxb_status status, std::string text, std::int32_t native = 0) {
    lastError = std::move(text);
    lastNativeCode = native;
    return status;
}

// Runs one call of the interface: nothing thrown crosses it.
template <typename Call>
noxb_status Guarded(Call&& call) noexcept {
    try {
        lastError.clear();
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

// UTF-8 of the module's wide text; a surrogate pair of 16-bit text is one
// character, a lone half becomes U+FFFD.
std::string Utf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]) & (sizeof(wchar_t) == 2 ? 0xFFFF : ~0u);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string AddressText(const BleDevice& device) {
    const std::uint8_t* a = device.deviceInfo.address;
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

// Handles given out and not yet closed or freed: a stale one is refused
// instead of being followed.
std::mutex liveGuard;
std::set<const void*> live;

bool IsLive(const void* object) {
    std::lock_guard<std::mutex> hold(liveGuard);
    return object != nullptr && live.count(object) != 0;
}
void SetLive(const void* object, bool on) {
    std::lock_guard<std::mutex> hold(liveGuard);
    if (on) {
        live.insert(object);
    } else {
        live.erase(object);
    }
}

}  // namespace

struct noxb_provider final : IBleGattEvents {
    explicit noxb_provider(const std::string& path) : library(path) {}

    void OnSessionEstablished(void* /*ctx*/, std::uint64_t session) override {
        try {
            if (events.session_established) events.session_established(events.context, session);
        } catch (...) {
            // A host's callback must not unwind into the stack's thread.
        }
    }
    void OnDeviceDisconnected(void* /*ctx*/, BleDevice* device) override {
        try {
            if (events.device_disconnected && device != nullptr) {
                events.device_disconnected(events.context, AddressText(*device).c_str());
            }
        } catch (...) {
        }
    }
    void OnCharacteristicData(void* /*ctx*/, BleCharacteristicInfo* info) override {
        try {
            if (info == nullptr || !info->characteristic) return;
            const std::string bytes = info->characteristic->TakeNotifications();
            if (bytes.empty() || !events.characteristic_data || info->device == nullptr) return;
            events.characteristic_data(events.context, AddressText(*info->device).c_str(),
                                       reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size());
        } catch (...) {
        }
    }

    ModuleLibrary library;
    noxb::IBTProvider* module = nullptr;
    noxb_events events{};
    std::uint64_t scans = 0;  // which scan made a list, for its entries
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

noxb_status CheckProvider(const noxb_provider* provider) {
    if (!IsLive(provider)) return Fail(NOXB_INVALID_ARGUMENT, "not an open provider");
    return NOXB_OK;
}

noxb_status CheckList(const noxb_device_list* list) {
    if (!IsLive(list)) return Fail(NOXB_INVALID_ARGUMENT, "not a device list (freed, or never made)");
    return NOXB_OK;
}

// An entry of the provider's last scan, or a refusal.
noxb_status CheckEntry(const noxb_provider* provider, const noxb_device_list* list,
                       std::size_t index) {
    if (noxb_status s = CheckProvider(provider)) return s;
    if (noxb_status s = CheckList(list)) return s;
    if (list->provider != provider || list->scan != provider->scans) {
        return Fail(NOXB_INVALID_ARGUMENT, "the list is not the provider's last scan");
    }
    if (index >= list->entries.size()) {
        return Fail(NOXB_INVALID_ARGUMENT, "no entry " + std::to_string(index) + " in the list");
    }
    return NOXB_OK;
}

}  // namespace

extern "C" {

const char* noxb_last_error(void) { return lastError.c_str(); }

std::int32_t noxb_last_native_code(void) { return lastNativeCode; }

noxb_status noxb_provider_open(const char* module_path, const noxb_events* events,
                               noxb_provider** provider) {
    return Guarded([&] {
        if (provider == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "provider is NULL");
        *provider = nullptr;
        const std::string path =
            module_path != nullptr ? std::string(module_path) : ModuleLibrary::BesideThisLibrary();
        auto made = std::make_unique<noxb_provider>(path);
        if (!made->library.Loaded()) return Fail(NOXB_MODULE_NOT_FOUND, made->library.Error());
        if (events != nullptr) {
            made->events = *events;
            made->module = made->library.createWithEvents(events->context, made.get());
        } else {
            made->module = made->library.create();
        }
        if (made->module == nullptr) return Fail(NOXB_GENERAL_FAILURE, "the module made no provider");
        *provider = made.release();
        SetLive(*provider, true);
        return NOXB_OK;
    });
}

void noxb_provider_close(noxb_provider* provider) {
    if (!IsLive(provider)) return;
    SetLive(provider, false);
    Guarded([&] {
        delete provider->module;
        delete provider;  // unloads the module
        return NOXB_OK;
    });
}

noxb_status noxb_scan(noxb_provider* provider, std::int64_t duration_ms, noxb_device_list** list) {
    return Guarded([&] {
        if (list == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "list is NULL");
        *list = nullptr;
        if (noxb_status s = CheckProvider(provider)) return s;
        auto made = std::make_unique<noxb_device_list>();
        made->entries = provider->module->Scan(duration_ms);
        for (const BleDeviceEntry& entry : made->entries) {
            made->names.push_back(Utf8(entry.name));
            made->addresses.push_back(Utf8(entry.address));
        }
        made->provider = provider;
        made->scan = ++provider->scans;
        *list = made.release();
        SetLive(*list, true);
        return NOXB_OK;
    });
}

size_t noxb_device_list_count(const noxb_device_list* list) {
    return IsLive(list) ? list->entries.size() : 0;
}

noxb_status noxb_device_list_get(const noxb_device_list* list, size_t index, noxb_device* device) {
    return Guarded([&] {
        if (noxb_status s = CheckList(list)) return s;
        if (device == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "device is NULL");
        if (index >= list->entries.size()) {
            return Fail(NOXB_INVALID_ARGUMENT, "no entry " + std::to_string(index) + " in the list");
        }
        device->name = list->names[index].c_str();
        device->address = list->addresses[index].c_str();
        device->first_pass = list->entries[index].firstPass ? 1 : 0;
        device->connectable = list->entries[index].connectable ? 1 : 0;
        return NOXB_OK;
    });
}

void noxb_device_list_free(noxb_device_list* list) {
    if (!IsLive(list)) return;
    SetLive(list, false);
    delete list;
}

noxb_status noxb_connect(noxb_provider* provider, const noxb_device_list* list, size_t index,
                         std::uint32_t* handle) {
    return Guarded([&] {
        if (handle == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "handle is NULL");
        if (noxb_status s = CheckEntry(provider, list, index)) return s;
        *handle = provider->module->Connect(list->entries[index]);
        return NOXB_OK;
    });
}

noxb_status noxb_disconnect(noxb_provider* provider, std::uint32_t handle) {
    return Guarded([&] {
        if (noxb_status s = CheckProvider(provider)) return s;
        provider->module->Disconnect(handle);
        std::lock_guard<std::mutex> hold(provider->pendingGuard);
        provider->pending.erase(handle);
        return NOXB_OK;
    });
}

noxb_status noxb_send(noxb_provider* provider, std::uint32_t handle, const std::uint8_t* data,
                      size_t length) {
    return Guarded([&] {
        if (noxb_status s = CheckProvider(provider)) return s;
        if (data == nullptr && length != 0) return Fail(NOXB_INVALID_ARGUMENT, "data is NULL");
        const std::vector<std::uint8_t> bytes(data, data + length);
        provider->module->Send(handle, bytes);
        return NOXB_OK;
    });
}

noxb_status noxb_receive(noxb_provider* provider, std::uint32_t handle, std::int64_t timeout_ms,
                         std::uint8_t* buffer, size_t capacity, size_t* length) {
    return Guarded([&] {
        if (noxb_status s = CheckProvider(provider)) return s;
        if (length == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "length is NULL");
        if (buffer == nullptr && capacity != 0) return Fail(NOXB_INVALID_ARGUMENT, "buffer is NULL");
        std::vector<std::uint8_t> bytes;
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
            provider->pending[handle] = std::move(bytes);
            return Fail(NOXB_BUFFER_TOO_SMALL,
                        "the value has " + std::to_string(*length) + " bytes; kept for the next call");
        }
        if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
        return NOXB_OK;
    });
}

noxb_status noxb_rssi(noxb_provider* provider, const noxb_device_list* list, size_t index,
                      std::int16_t* rssi) {
    return Guarded([&] {
        if (rssi == nullptr) return Fail(NOXB_INVALID_ARGUMENT, "rssi is NULL");
        if (noxb_status s = CheckEntry(provider, list, index)) return s;
        *rssi = provider->module->GetRSSI(list->entries[index]);
        return NOXB_OK;
    });
}

}  // extern "C"
