// A device's GATT session: opening, closing, and the stack's device events.
#include <leapi/leapi.h>
#include <noxb/BleModel.h>
#include <noxb/Exceptions.h>

#include <cstring>
#include <string>
#include <utility>

#include "logging/log.h"
#include "sessiontable.h"

BleDevice::BleDevice(const LeDeviceRecord& record, IBleGattEvents* sink, void* context)
    : deviceInfo(record),
      sessionHandle(kNoSession),
      sessionExtra(0),
      refreshNeeded(true),
      eventSink(sink),
      eventContext(context) {}

std::shared_ptr<BleDevice> BleDevice::Create(const LeDeviceRecord& record,
                                             IBleGattEvents* eventSink, void* eventContext,
                                             const void* owner) {
    std::shared_ptr<BleDevice> device(new BleDevice(record, eventSink, eventContext));
    device->self = device;
    device->owner = owner;
    return device;
}

std::uint64_t BleDevice::SessionHandle() const {
    return WithSession([this] { return sessionHandle; });
}

std::uint16_t BleDevice::SessionExtra() const {
    return WithSession([this] { return sessionExtra; });
}

bool BleDevice::RefreshNeeded() const {
    return WithSession([this] { return refreshNeeded; });
}

void BleDevice::SetSession(std::uint64_t session) {
    WithSession([&] { sessionHandle = session; });
}

void BleDevice::GATTSessionEstablish() {
    std::uint64_t session = kNoSession;
    std::uint16_t extra{};  // written with the session
    const std::uint32_t code =
        LEAPI_GATTSessionEstablishEx(&deviceInfo, &BleDevice::OnDeviceEvent, this,
                                     LEAPI_SESSION_OPTION_DEFAULT, &session, &extra);
    if (code == LEAPI_SUCCESS) {
        sessionsByAddress.Set(AddressOf(*this), session);
        WithSession([&] {
            sessionHandle = session;
            sessionExtra = extra;
            OpenedLocked(session);
        });
        // The stack may call this device and its objects back until the
        // session is closed, whoever else holds the device.
        callbackHolders.Hold(self.lock());
        return;
    }
    if (code == LEAPI_ERROR_SESSION_EXISTS) {
        // The stack already has a session with this device: keep ours, or
        // adopt the one an earlier opening recorded for the address.
        if (SessionHandle() != kNoSession) return;
        if (auto known = sessionsByAddress.Find(AddressOf(*this))) {
            WithSession([&] {
                sessionHandle = *known;
                OpenedLocked(*known);
            });
            // Its refresh subscribes this device's objects on that session
            // too: they must live until it is closed, as after an opening.
            callbackHolders.Hold(self.lock());
            return;
        }
    }
    NOXB_LOG(LogLevel::Error, kModuleBle, "BleDevice::GATTSessionEstablish",
             "connection to device failed, couldn't establish session with device");
    throw NoxBleProviderGeneralException(static_cast<int>(code));
}

void BleDevice::OpenedLocked(std::uint64_t session) {
    // A session opened before and never closed (its link was lost before the
    // event said so, or its close was refused) may still be called back by
    // the stack, so it counts as one forgotten on a lost link.
    if (openedSession != kNoSession && openedSession != session) linkLost = true;
    openedSession = session;
}

void BleDevice::GATTSessionClose() {
    std::uint64_t session{}, opened{};
    bool lost{};
    WithSession([&] {
        session = sessionHandle;
        opened = openedSession;
        lost = linkLost;
    });
    const std::uint32_t code = LEAPI_GATTSessionClose(session);
    SetSession(kNoSession);
    sessionsByAddress.Erase(AddressOf(*this));
    // Only when the stack has let go of every session of this device does it
    // call nothing back any more. A refused close leaves the session open, and
    // one forgotten on a lost link is never closed: what their callbacks name
    // must stay, and so must they when the handle closed is not the one this
    // device opened (an event may have named another).
    const bool letGo = !lost && session != kNoSession && session == opened &&
                       (code == LEAPI_SUCCESS || code == LEAPI_ERROR_INVALID_SESSION_HANDLE);
    if (letGo) {
        WithSession([this] { openedSession = kNoSession; });
        retired.clear();
    }
    if (code == LEAPI_ERROR_INVALID_SESSION_HANDLE) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "BleDevice::GATTSessionClose",
                 "Failed close GATTSession with error LEAPI_ERROR_INVALID_SESSION_HANDLE");
    } else if (code != LEAPI_SUCCESS) {
        NOXB_LOG(LogLevel::Error, kModuleBle, "BleDevice::GATTSessionClose",
                 "Failed close GATTSession with unknown error");
    }
    if (letGo) callbackHolders.Release(this);  // may destroy this device: nothing after it
}

void BleDevice::OnDeviceEvent(std::uint32_t event, const void* data, void* context) {
    static_cast<BleDevice*>(context)->OnDeviceCallback(event, data);
}

void BleDevice::OnDeviceCallback(std::uint32_t event, const void* data) {
    NOXB_LOG(LogLevel::Info, kModuleBleString, "BleDevice::OnDeviceCallback",
             "OnDeviceCallback happened event:" + std::to_string(static_cast<int>(event)));
    switch (event) {
        case LEAPI_EVENT_SESSION_DISCONNECTED:
            sessionsByAddress.Erase(AddressOf(*this));
            // Forgotten, the handle is never closed; the next opening marks
            // the session as one the stack may still call back.
            WithSession([this] { sessionHandle = kNoSession; });
            if (eventSink != nullptr) eventSink->OnDeviceDisconnected(eventContext, this);
            break;
        case LEAPI_EVENT_SESSION_ESTABLISHED: {
            if (data == nullptr) break;
            LeSessionEstablishedEvent record;
            std::memcpy(&record, data, sizeof record);
            WithSession([&] {
                sessionHandle = record.session;
                sessionExtra = record.extra;
            });
            if (eventSink != nullptr) eventSink->OnSessionEstablished(eventContext, record.session);
            break;
        }
        case LEAPI_EVENT_SESSION_CLOSED: {
            if (data == nullptr) break;
            LeSessionClosedEvent record;
            std::memcpy(&record, data, sizeof record);
            WithSession([&] {
                if (record.session == sessionHandle) sessionHandle = kNoSession;
            });
            break;
        }
        case LEAPI_EVENT_SERVICES_CHANGED:
            WithSession([this] { refreshNeeded = true; });
            break;
        default:
            break;
    }
}

void BleDevice::Retire(std::shared_ptr<void> replaced) {
    if (replaced) retired.push_back(std::move(replaced));
}
