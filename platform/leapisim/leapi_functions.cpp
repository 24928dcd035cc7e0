// The LEAPI_ functions of the simulated stack. Each one checks its script,
// does its work under the world mutex and journals itself; the ones that
// block or wait for callbacks let go of the mutex first.
#include <leapi/leapi.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "src/stack.h"

using leapisim::Arg;
using leapisim::Fn;
using leapisim::Out;
using leapisim::Stack;

namespace {

using Lock = std::unique_lock<std::mutex>;

std::uint16_t CountOf(std::size_t n) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(n, 0xFFFF));
}

// The device of an open session; sets `rc` when there is none.
leapisim::Device* SessionDevice(Stack& s, std::uint64_t session, std::uint32_t* rc,
                                leapisim::Session** out = nullptr) {
    leapisim::Session* sess = s.FindSession(session);
    if (sess == nullptr) {
        *rc = LEAPI_ERROR_INVALID_SESSION_HANDLE;
        return nullptr;
    }
    if (out != nullptr) *out = sess;
    return s.FindDevice(sess->device);
}

template <class Record, class Item>
std::uint32_t GetNext(Fn fn, leapisim::DiscoveryTable<Record, Item> Stack::*table,
                      std::uint64_t handle, Record* out) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(fn, true);
    if (rc == 0)
        rc = out == nullptr ? LEAPI_ERROR_INVALID_PARAMETER : (s.*table).GetNext(handle, out);
    s.journal.Add(fn, rc, {handle, Arg(out)});
    return rc;
}

template <class Record, class Item>
std::uint32_t End(Fn fn, leapisim::DiscoveryTable<Record, Item> Stack::*table,
                  std::uint64_t handle) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(fn, true);
    if (rc == 0) rc = (s.*table).End(handle);
    s.journal.Add(fn, rc, {handle});
    return rc;
}

std::uint32_t Subscribe(Fn fn, std::uint32_t kind, std::uint64_t session, std::uint16_t valueHandle,
                        LeCallback callback, void* context) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(fn, true);
    if (rc == 0 && callback == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Session* sess = nullptr;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc, &sess) : nullptr;
    if (d != nullptr) {
        const leapisim::Characteristic* c = d->gatt.CharacteristicAt(valueHandle);
        const std::uint8_t needed =
            kind == leapisim::kNotify ? LEAPI_PROP_NOTIFY : LEAPI_PROP_INDICATE;
        if (c == nullptr) {
            rc = LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
        } else if ((c->properties & needed) == 0) {
            rc = LEAPI_ERROR_NOT_OFFERED;
        } else {
            // Added, never replacing: every subscription keeps receiving.
            sess->subscriptions.push_back({valueHandle, kind, callback, context});
        }
    }
    s.journal.Add(fn, rc, {session, valueHandle, Arg(callback), Arg(context)});
    return rc;
}

}  // namespace

extern "C" {

LEAPI_API uint32_t LEAPI_Initialize(LeCallback callback, void* context, uint64_t* slot) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::Initialize, false);
    if (rc == 0) {
        if (s.initialized) {
            rc = LEAPI_ALREADY_INITIALIZED;  // the first callback stays
        } else {
            s.initialized = true;
            s.stackCallback = callback;
            s.stackContext = context;
            ++s.instance;
        }
        if (slot != nullptr) *slot = s.instance;
    }
    s.journal.Add(Fn::Initialize, rc, {Arg(callback), Arg(context), Out(slot)});
    return rc;
}

LEAPI_API uint32_t LEAPI_Uninitialize(void) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::Uninitialize, true);
    std::uint64_t lastQueued = rc == 0 ? s.TearDownLocked() : 0;
    s.journal.Add(Fn::Uninitialize, rc, {});
    lock.unlock();
    if (rc == 0) s.dispatcher.Shutdown(lastQueued);
    return rc;
}

LEAPI_API uint32_t LEAPI_DevicesDiscoveryStart(uint8_t seconds, uint8_t flags, uint64_t* handle) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::DevicesDiscoveryStart, true);
    if (rc == 0 && handle == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    if (rc == 0) {
        std::vector<const LeDeviceRecord*> found;
        for (const auto& d : s.devices) {
            if (!d->removed && (d->discoveryFlags & flags) != 0) found.push_back(&d->record);
        }
        const std::uint64_t epoch = s.epoch;
        const std::uint64_t ms = std::uint64_t{seconds} * s.msPerSecond;
        if (ms > 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            lock.lock();
        }
        if (s.epoch != epoch) {
            rc = LEAPI_ERROR_NOT_INITIALIZED;  // uninitialised or reset during the run
        } else {
            *handle = s.deviceRuns.Start(std::move(found));
        }
    }
    s.journal.Add(Fn::DevicesDiscoveryStart, rc, {seconds, flags, Out(handle)});
    return rc;
}

LEAPI_API uint32_t LEAPI_DevicesDiscoveryGetNext(uint64_t handle, LeDeviceRecord* out) {
    return GetNext(Fn::DevicesDiscoveryGetNext, &Stack::deviceRuns, handle, out);
}

LEAPI_API uint32_t LEAPI_DevicesDiscoveryEnd(uint64_t handle) {
    return End(Fn::DevicesDiscoveryEnd, &Stack::deviceRuns, handle);
}

LEAPI_API uint32_t LEAPI_GATTSessionEstablishEx(const LeDeviceRecord* device, LeCallback callback,
                                                void* context, uint32_t option, uint64_t* session,
                                                uint16_t* extra) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::GATTSessionEstablishEx, true);
    if (rc == 0 && (device == nullptr || session == nullptr || extra == nullptr)) {
        rc = LEAPI_ERROR_INVALID_PARAMETER;
    }
    if (rc == 0) {
        leapisim::Device* d = s.FindDeviceByAddress(device->address);
        if (d == nullptr) {
            rc = LEAPI_ERROR_DEVICE_NOT_FOUND;
        } else if (d->record.connectable == 0) {
            rc = LEAPI_ERROR_NOT_CONNECTABLE;
        } else if (s.SessionOf(d->id) != LEAPI_NO_SESSION) {
            rc = LEAPI_ERROR_SESSION_EXISTS;
        } else {
            std::uint64_t h = s.OpenSession(leapisim::Session{d->id, callback, context, {}});
            *session = h;
            *extra = leapisim::kSessionExtra;
            LeSessionEstablishedEvent ev{h, leapisim::kSessionExtra};
            s.dispatcher.Post(h, callback, context, LEAPI_EVENT_SESSION_ESTABLISHED, &ev,
                              sizeof ev);
        }
    }
    s.journal.Add(Fn::GATTSessionEstablishEx, rc,
                  {Arg(device), Arg(callback), Arg(context), option, Out(session), Out(extra)},
                  device, device != nullptr ? sizeof *device : 0);
    return rc;
}

LEAPI_API uint32_t LEAPI_GATTSessionClose(uint64_t session) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::GATTSessionClose, true);
    const bool forget = rc == 0;
    if (forget) rc = s.CloseSession(session) ? LEAPI_SUCCESS : LEAPI_ERROR_INVALID_SESSION_HANDLE;
    s.journal.Add(Fn::GATTSessionClose, rc, {session});
    lock.unlock();
    // Also for unknown or dropped handles: after this the stack never calls
    // the session's contexts again.
    if (forget) s.dispatcher.Purge(session);
    return rc;
}

LEAPI_API uint32_t LEAPI_GATTSessionRSSIGet(uint64_t session, int16_t* rssi) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::GATTSessionRSSIGet, true);
    if (rc == 0 && rssi == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) *rssi = d->rssi;
    s.journal.Add(Fn::GATTSessionRSSIGet, rc, {session, Out(rssi)});
    return rc;
}

LEAPI_API uint32_t LEAPI_ServicesDiscoveryStartByUUID(uint64_t session, const LeUuid* uuid,
                                                      uint64_t* handle, uint16_t* count) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::ServicesDiscoveryStartByUUID, true);
    if (rc == 0 && (uuid == nullptr || handle == nullptr || count == nullptr)) {
        rc = LEAPI_ERROR_INVALID_PARAMETER;
    }
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        auto found = d->gatt.FindServices(*uuid);
        *count = CountOf(found.size());
        *handle = s.serviceRuns.Start(std::move(found));
    }
    s.journal.Add(Fn::ServicesDiscoveryStartByUUID, rc,
                  {session, Arg(uuid), Out(handle), Out(count)}, uuid,
                  uuid != nullptr ? sizeof *uuid : 0);
    return rc;
}

LEAPI_API uint32_t LEAPI_ServicesDiscoveryGetNext(uint64_t handle, LeServiceRecord* out) {
    return GetNext(Fn::ServicesDiscoveryGetNext, &Stack::serviceRuns, handle, out);
}

LEAPI_API uint32_t LEAPI_ServicesDiscoveryEnd(uint64_t handle) {
    return End(Fn::ServicesDiscoveryEnd, &Stack::serviceRuns, handle);
}

LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryStartByUUID(uint64_t session, uint16_t first,
                                                             uint16_t last, const LeUuid* uuid,
                                                             uint64_t* handle, uint16_t* count) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::CharacteristicsDiscoveryStartByUUID, true);
    if (rc == 0 && (uuid == nullptr || handle == nullptr || count == nullptr)) {
        rc = LEAPI_ERROR_INVALID_PARAMETER;
    }
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        auto found = d->gatt.FindCharacteristics(first, last, *uuid);
        *count = CountOf(found.size());
        *handle = s.characteristicRuns.Start(std::move(found));
    }
    s.journal.Add(Fn::CharacteristicsDiscoveryStartByUUID, rc,
                  {session, first, last, Arg(uuid), Out(handle), Out(count)}, uuid,
                  uuid != nullptr ? sizeof *uuid : 0);
    return rc;
}

LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryGetNext(uint64_t handle,
                                                         LeCharacteristicRecord* out) {
    return GetNext(Fn::CharacteristicsDiscoveryGetNext, &Stack::characteristicRuns, handle, out);
}

LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryEnd(uint64_t handle) {
    return End(Fn::CharacteristicsDiscoveryEnd, &Stack::characteristicRuns, handle);
}

LEAPI_API uint32_t LEAPI_CharacteristicNotificationSubscribe(uint64_t session, uint16_t valueHandle,
                                                             LeCallback callback, void* context) {
    return Subscribe(Fn::CharacteristicNotificationSubscribe, leapisim::kNotify, session,
                     valueHandle, callback, context);
}

LEAPI_API uint32_t LEAPI_CharacteristicIndicationSubscribe(uint64_t session, uint16_t valueHandle,
                                                           LeCallback callback, void* context) {
    return Subscribe(Fn::CharacteristicIndicationSubscribe, leapisim::kIndicate, session,
                     valueHandle, callback, context);
}

LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryStart(uint64_t session,
                                                                 uint16_t valueHandle,
                                                                 uint16_t last, uint64_t* handle,
                                                                 uint16_t* count) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::CharacteristicDescriptorsDiscoveryStart, true);
    if (rc == 0 && (handle == nullptr || count == nullptr)) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        const leapisim::Characteristic* c = d->gatt.CharacteristicAt(valueHandle);
        if (c == nullptr) {
            rc = LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
        } else {
            auto found = leapisim::GattDatabase::DescriptorsOf(*c, last);
            *count = CountOf(found.size());
            *handle = s.descriptorRuns.Start(std::move(found));
        }
    }
    s.journal.Add(Fn::CharacteristicDescriptorsDiscoveryStart, rc,
                  {session, valueHandle, last, Out(handle), Out(count)});
    return rc;
}

LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryGetNext(uint64_t handle,
                                                                   LeDescriptorRecord* out) {
    return GetNext(Fn::CharacteristicDescriptorsDiscoveryGetNext, &Stack::descriptorRuns, handle,
                   out);
}

LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryEnd(uint64_t handle) {
    return End(Fn::CharacteristicDescriptorsDiscoveryEnd, &Stack::descriptorRuns, handle);
}

LEAPI_API uint32_t LEAPI_CharacteristicDescriptorWrite(uint64_t session,
                                                       const CharacteristicValue* value) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::CharacteristicDescriptorWrite, true);
    if (rc == 0 && value == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        leapisim::Descriptor* desc = d->gatt.DescriptorAt(value->handle);
        if (desc == nullptr) {
            rc = LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
        } else if (value->length > LEAPI_MAX_VALUE_LENGTH) {
            rc = LEAPI_ERROR_INVALID_LENGTH;
        } else {
            desc->value.assign(value->data, value->data + value->length);
        }
    }
    s.journal.AddWithValue(Fn::CharacteristicDescriptorWrite, rc, {session, Arg(value)}, value);
    return rc;
}

LEAPI_API uint32_t LEAPI_CharacteristicReadLong(uint64_t session, uint16_t valueHandle,
                                                CharacteristicValue* out) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::CharacteristicReadLong, true);
    if (rc == 0 && out == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        leapisim::Characteristic* c = d->gatt.CharacteristicAt(valueHandle);
        if (c == nullptr) {
            rc = LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
        } else if ((c->properties & LEAPI_PROP_READ) == 0) {
            rc = LEAPI_ERROR_NOT_PERMITTED;
        } else {
            // A read stores the bytes and their count, nothing else: the
            // record's handle is the caller's, read by its callbacks.
            leapisim::Bytes value = c->Read();
            out->length = static_cast<std::uint16_t>(value.size());
            if (!value.empty()) std::memcpy(out->data, value.data(), value.size());
        }
    }
    s.journal.AddWithValue(Fn::CharacteristicReadLong, rc, {session, valueHandle, Arg(out)}, out);
    return rc;
}

LEAPI_API uint32_t LEAPI_CharacteristicWriteLong(uint64_t session,
                                                 const CharacteristicValue* value) {
    Stack& s = Stack::Instance();
    Lock lock(s.mutex);
    std::uint32_t rc = s.Begin(Fn::CharacteristicWriteLong, true);
    if (rc == 0 && value == nullptr) rc = LEAPI_ERROR_INVALID_PARAMETER;
    leapisim::Device* d = rc == 0 ? SessionDevice(s, session, &rc) : nullptr;
    if (d != nullptr) {
        leapisim::Characteristic* c = d->gatt.CharacteristicAt(value->handle);
        if (c == nullptr) {
            rc = LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
        } else if (value->length > LEAPI_MAX_VALUE_LENGTH) {
            rc = LEAPI_ERROR_INVALID_LENGTH;
        } else if ((c->properties & LEAPI_PROP_WRITE) == 0) {
            rc = LEAPI_ERROR_NOT_PERMITTED;
        } else {
            c->Write(value->data, value->length);
            if (c->behaviour == LESIM_VALUE_ECHO) {
                const std::uint16_t config = c->ClientConfig();
                const std::uint32_t kinds = ((config & 1) != 0 ? leapisim::kNotify : 0) |
                                            ((config & 2) != 0 ? leapisim::kIndicate : 0);
                if (kinds != 0) {
                    s.SendValue(session, value->handle, kinds, 0, value->data, value->length, true);
                }
            }
        }
    }
    s.journal.AddWithValue(Fn::CharacteristicWriteLong, rc, {session, Arg(value)}, value);
    return rc;
}

}  // extern "C"
