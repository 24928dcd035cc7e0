// The LeSim control API: shapes the world, scripts answers, raises events and
// reads the journal.
#include <leapisim/leapisim.h>

#include <algorithm>
#include <cstring>

#include "src/stack.h"

using leapisim::Stack;

namespace {

using Guard = std::lock_guard<std::mutex>;

leapisim::Characteristic* FindCharacteristic(Stack& s, std::uint32_t device,
                                             std::uint16_t valueHandle) {
    leapisim::Device* d = s.FindDevice(device);
    return d == nullptr ? nullptr : d->gatt.CharacteristicAt(valueHandle);
}

}  // namespace

extern "C" {

LEAPI_API void LeSimReset(void) {
    Stack& s = Stack::Instance();
    std::unique_lock<std::mutex> lock(s.mutex);
    const std::uint64_t lastQueued = s.TearDownLocked();
    s.devices.clear();
    s.scripts.Clear();
    s.journal.Clear();
    s.journal.Enable(true);
    s.msPerSecond = 0;
    lock.unlock();
    s.dispatcher.Shutdown(lastQueued);
    s.dispatcher.ResetDelivered();
}

LEAPI_API void LeSimLoadDefaultWorld(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.LoadDefaultWorldLocked();
}

LEAPI_API void LeSimSetDiscoveryPace(uint32_t msPerSecond) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.msPerSecond = msPerSecond;
}

LEAPI_API void LeSimMakeDeviceRecord(LeDeviceRecord* out, const uint8_t address[6],
                                     const char* name, uint8_t majorClass, uint8_t minorClass,
                                     int8_t rssi, int connectable) {
    if (out == nullptr) return;
    leapisim::MakeDeviceRecord(out, address, name, majorClass, minorClass, rssi, connectable != 0);
}

LEAPI_API uint32_t LeSimAddDevice(const LeDeviceRecord* record, uint8_t discoveryFlags) {
    if (record == nullptr) return 0;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.AddDeviceLocked(*record, discoveryFlags);
}

LEAPI_API uint32_t LeSimRemoveDevice(uint32_t device) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    if (d == nullptr || d->removed) return LEAPI_ERROR_DEVICE_NOT_FOUND;
    d->removed = true;
    return LEAPI_SUCCESS;
}

LEAPI_API uint32_t LeSimSetDeviceRssi(uint32_t device, int16_t rssi) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    if (d == nullptr) return LEAPI_ERROR_DEVICE_NOT_FOUND;
    d->rssi = rssi;
    return LEAPI_SUCCESS;
}

LEAPI_API uint32_t LeSimDeviceCount(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return static_cast<uint32_t>(s.devices.size());
}

LEAPI_API uint32_t LeSimGetDevice(uint32_t device, LeDeviceRecord* record, uint8_t* discoveryFlags,
                                  int* removed) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    const leapisim::Device* d = s.FindDevice(device);
    if (d == nullptr) return LEAPI_ERROR_DEVICE_NOT_FOUND;
    if (record != nullptr) *record = d->record;
    if (discoveryFlags != nullptr) *discoveryFlags = d->discoveryFlags;
    if (removed != nullptr) *removed = d->removed ? 1 : 0;
    return LEAPI_SUCCESS;
}

LEAPI_API uint16_t LeSimAddService(uint32_t device, const LeUuid* uuid) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    return d == nullptr || uuid == nullptr ? 0 : d->gatt.AddService(*uuid);
}

LEAPI_API uint16_t LeSimAddCharacteristic(uint32_t device, const LeUuid* uuid, uint8_t properties,
                                          enum LeSimValueBehaviour behaviour) {
    if (behaviour != LESIM_VALUE_STORE && behaviour != LESIM_VALUE_ECHO) return 0;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    return d == nullptr || uuid == nullptr
               ? 0
               : d->gatt.AddCharacteristic(*uuid, properties, behaviour);
}

LEAPI_API uint16_t LeSimAddDescriptor(uint32_t device, const LeUuid* uuid) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    return d == nullptr || uuid == nullptr ? 0 : d->gatt.AddDescriptor(*uuid);
}

LEAPI_API uint32_t LeSimQueueReadValue(uint32_t device, uint16_t valueHandle, const void* bytes,
                                       uint16_t length) {
    if (bytes == nullptr && length > 0) return LEAPI_ERROR_INVALID_PARAMETER;
    if (length > LEAPI_MAX_VALUE_LENGTH) return LEAPI_ERROR_INVALID_LENGTH;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    if (s.FindDevice(device) == nullptr) return LEAPI_ERROR_DEVICE_NOT_FOUND;
    leapisim::Characteristic* c = FindCharacteristic(s, device, valueHandle);
    if (c == nullptr) return LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    c->QueueRead(p, p == nullptr ? 0 : length);
    return LEAPI_SUCCESS;
}

LEAPI_API uint16_t LeSimDescriptorValue(uint32_t device, uint16_t descriptorHandle) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    leapisim::Device* d = s.FindDevice(device);
    const leapisim::Descriptor* desc =
        d == nullptr ? nullptr : d->gatt.DescriptorAt(descriptorHandle);
    if (desc == nullptr) return 0;
    std::uint16_t v = 0;
    if (!desc->value.empty()) v = desc->value[0];
    if (desc->value.size() > 1) v = static_cast<std::uint16_t>(v | desc->value[1] << 8);
    return v;
}

LEAPI_API uint32_t LeSimLastWrittenValue(uint32_t device, uint16_t valueHandle, void* bytes,
                                         uint32_t capacity) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    const leapisim::Characteristic* c = FindCharacteristic(s, device, valueHandle);
    if (c == nullptr) return 0;
    if (bytes != nullptr) {
        std::memcpy(bytes, c->lastWritten.data(),
                    std::min<std::size_t>(capacity, c->lastWritten.size()));
    }
    return static_cast<std::uint32_t>(c->lastWritten.size());
}

LEAPI_API uint64_t LeSimSessionOf(uint32_t device) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.SessionOf(device);
}

LEAPI_API uint32_t LeSimSessionCount(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return static_cast<std::uint32_t>(s.SessionCount());
}

LEAPI_API uint32_t LeSimSubscriptionCount(uint64_t session) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    const leapisim::Session* sess = s.FindSession(session);
    return sess == nullptr ? 0 : static_cast<std::uint32_t>(sess->subscriptions.size());
}

LEAPI_API uint32_t LeSimDropSession(uint64_t session) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    const leapisim::Session* sess = s.FindSession(session);
    if (sess == nullptr) return LEAPI_ERROR_INVALID_SESSION_HANDLE;
    const LeCallback callback = sess->callback;
    void* const context = sess->context;
    s.DropSession(session);
    s.dispatcher.Post(session, callback, context, LEAPI_EVENT_SESSION_DISCONNECTED, nullptr, 0);
    return LEAPI_SUCCESS;
}

LEAPI_API uint32_t LeSimRaiseDeviceEvent(uint64_t session, uint32_t event, const void* data,
                                         uint32_t length) {
    if (data == nullptr && length > 0) return LEAPI_ERROR_INVALID_PARAMETER;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    LeCallback callback = nullptr;
    void* context = nullptr;
    if (!s.SessionCallback(session, &callback, &context)) {
        return LEAPI_ERROR_INVALID_SESSION_HANDLE;
    }
    s.dispatcher.Post(session, callback, context, event, data, length);
    return LEAPI_SUCCESS;
}

LEAPI_API uint32_t LeSimRaiseValueEvent(uint64_t session, uint16_t valueHandle, uint32_t kind,
                                        uint8_t flag, const void* bytes, uint16_t length) {
    if (bytes == nullptr && length > 0) return 0;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.SendValue(session, valueHandle, kind, flag, static_cast<const std::uint8_t*>(bytes),
                       length, false);
}

LEAPI_API uint32_t LeSimRaiseRawValueEvent(uint64_t session, uint16_t valueHandle, uint32_t event,
                                           const void* record, uint32_t length) {
    if (record == nullptr && length > 0) return 0;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.SendRaw(session, valueHandle, event, record, length);
}

LEAPI_API uint32_t LeSimRaiseStackEvent(uint32_t event, const void* data, uint32_t length) {
    if (data == nullptr && length > 0) return LEAPI_ERROR_INVALID_PARAMETER;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    if (!s.initialized) return LEAPI_ERROR_NOT_INITIALIZED;
    s.dispatcher.Post(leapisim::kStackOwner, s.stackCallback, s.stackContext, event, data, length);
    return LEAPI_SUCCESS;
}

LEAPI_API void LeSimFlushEvents(void) { Stack::Instance().dispatcher.Flush(); }

LEAPI_API void LeSimSetPumpedDelivery(int on) { Stack::Instance().dispatcher.SetPumped(on != 0); }

LEAPI_API uint32_t LeSimPumpEvents(uint32_t most) {
    return Stack::Instance().dispatcher.Pump(most);
}

LEAPI_API uint64_t LeSimDeliveredEventCount(void) {
    return Stack::Instance().dispatcher.Delivered();
}

LEAPI_API uint32_t LeSimScript(const char* function, uint32_t code, uint32_t count) {
    leapisim::Fn fn;
    if (!leapisim::FunctionByName(function, &fn)) return LEAPI_ERROR_INVALID_PARAMETER;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.scripts.Add(fn, code, count);
    return LEAPI_SUCCESS;
}

LEAPI_API void LeSimClearScripts(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.scripts.Clear();
}

LEAPI_API uint32_t LeSimJournalCount(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.journal.Count();
}

LEAPI_API uint32_t LeSimJournalGet(uint32_t index, LeSimCall* out) {
    if (out == nullptr) return LEAPI_ERROR_INVALID_PARAMETER;
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    return s.journal.Get(index, out) ? LEAPI_SUCCESS : LEAPI_ERROR_NO_MORE_ITEMS;
}

LEAPI_API void LeSimJournalClear(void) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.journal.Clear();
}

LEAPI_API void LeSimJournalEnable(int on) {
    Stack& s = Stack::Instance();
    Guard lock(s.mutex);
    s.journal.Enable(on != 0);
}

}  // extern "C"
