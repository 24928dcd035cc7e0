#include "gatt.h"

#include <algorithm>
#include <cstring>

namespace leapisim {

namespace {
constexpr std::uint16_t kClientConfigUuid = 0x2902;
}  // namespace

bool UuidEquals(const LeUuid& a, const LeUuid& b) {
    if (a.type != b.type) return false;
    std::size_t n = a.type == LEAPI_UUID_TYPE_16 ? 2 : sizeof a.value;
    return std::memcmp(a.value, b.value, n) == 0;
}

LeUuid Uuid16(std::uint16_t value) {
    LeUuid u{};
    u.type = LEAPI_UUID_TYPE_16;
    u.value[0] = static_cast<std::uint8_t>(value & 0xFF);
    u.value[1] = static_cast<std::uint8_t>(value >> 8);
    return u;
}

bool Descriptor::IsClientConfig() const { return UuidEquals(uuid, Uuid16(kClientConfigUuid)); }

std::uint16_t Characteristic::LastHandle() const {
    return descriptors.empty() ? valueHandle : descriptors.back().handle;
}

std::uint16_t Characteristic::ClientConfig() const {
    for (const Descriptor& d : descriptors) {
        if (!d.IsClientConfig()) continue;
        std::uint16_t v = 0;
        if (!d.value.empty()) v = d.value[0];
        if (d.value.size() > 1) v = static_cast<std::uint16_t>(v | d.value[1] << 8);
        return v;
    }
    return 0;
}

void Characteristic::Write(const std::uint8_t* bytes, std::size_t length) {
    lastWritten.assign(bytes, bytes + length);
    if (behaviour == LESIM_VALUE_ECHO) {
        readQueue.push_back(lastWritten);
    } else {
        stored = lastWritten;
    }
}

void Characteristic::QueueRead(const std::uint8_t* bytes, std::size_t length) {
    if (behaviour == LESIM_VALUE_ECHO) {
        readQueue.emplace_back(bytes, bytes + length);
    } else {
        stored.assign(bytes, bytes + length);
    }
}

Bytes Characteristic::Read() {
    if (behaviour != LESIM_VALUE_ECHO) return stored;
    if (readQueue.empty()) return {};
    Bytes front = std::move(readQueue.front());
    readQueue.erase(readQueue.begin());
    return front;
}

std::uint16_t Service::LastHandle() const {
    return characteristics.empty() ? firstHandle : characteristics.back().LastHandle();
}

std::uint16_t GattDatabase::Allocate(unsigned count) {
    if (nextHandle_ + count - 1 > 0xFFFF) return 0;
    auto first = static_cast<std::uint16_t>(nextHandle_);
    nextHandle_ += count;
    return first;
}

std::uint16_t GattDatabase::AddService(const LeUuid& uuid) {
    std::uint16_t handle = Allocate(1);
    if (handle == 0) return 0;
    Service s;
    s.firstHandle = handle;
    s.uuid = uuid;
    services_.push_back(std::move(s));
    return handle;
}

std::uint16_t GattDatabase::AddCharacteristic(const LeUuid& uuid, std::uint8_t properties,
                                              LeSimValueBehaviour behaviour) {
    if (services_.empty()) return 0;
    std::uint16_t declaration = Allocate(2);
    if (declaration == 0) return 0;
    Characteristic c;
    c.declarationHandle = declaration;
    c.valueHandle = static_cast<std::uint16_t>(declaration + 1);
    c.uuid = uuid;
    c.properties = properties;
    c.behaviour = behaviour;
    services_.back().characteristics.push_back(std::move(c));
    return static_cast<std::uint16_t>(declaration + 1);
}

std::uint16_t GattDatabase::AddDescriptor(const LeUuid& uuid) {
    if (services_.empty() || services_.back().characteristics.empty()) return 0;
    std::uint16_t handle = Allocate(1);
    if (handle == 0) return 0;
    Descriptor d;
    d.handle = handle;
    d.uuid = uuid;
    services_.back().characteristics.back().descriptors.push_back(std::move(d));
    return handle;
}

Characteristic* GattDatabase::CharacteristicAt(std::uint16_t valueHandle) {
    for (Service& s : services_) {
        for (Characteristic& c : s.characteristics) {
            if (c.valueHandle == valueHandle) return &c;
        }
    }
    return nullptr;
}

Descriptor* GattDatabase::DescriptorAt(std::uint16_t handle) {
    for (Service& s : services_) {
        for (Characteristic& c : s.characteristics) {
            for (Descriptor& d : c.descriptors) {
                if (d.handle == handle) return &d;
            }
        }
    }
    return nullptr;
}

std::vector<LeServiceRecord> GattDatabase::FindServices(const LeUuid& uuid) const {
    std::vector<LeServiceRecord> found;
    for (const Service& s : services_) {
        if (!UuidEquals(s.uuid, uuid)) continue;
        LeServiceRecord r{};
        r.uuid = s.uuid;
        r.firstHandle = s.firstHandle;
        r.lastHandle = s.LastHandle();
        found.push_back(r);
    }
    return found;
}

std::vector<LeCharacteristicRecord> GattDatabase::FindCharacteristics(std::uint16_t first,
                                                                      std::uint16_t last,
                                                                      const LeUuid& uuid) const {
    std::vector<LeCharacteristicRecord> found;
    for (const Service& s : services_) {
        for (const Characteristic& c : s.characteristics) {
            if (c.declarationHandle < first || c.declarationHandle > last) continue;
            if (!UuidEquals(c.uuid, uuid)) continue;
            LeCharacteristicRecord r{};
            r.uuid = c.uuid;
            r.properties = c.properties;
            r.valueHandle = c.valueHandle;
            r.lastHandle = c.LastHandle();
            found.push_back(r);
        }
    }
    return found;
}

std::vector<LeDescriptorRecord> GattDatabase::DescriptorsOf(const Characteristic& c,
                                                            std::uint16_t last) {
    std::vector<LeDescriptorRecord> found;
    for (const Descriptor& d : c.descriptors) {
        if (d.handle <= c.valueHandle || d.handle > last) continue;
        LeDescriptorRecord r{};
        r.uuid = d.uuid;
        r.handle = d.handle;
        found.push_back(r);
    }
    return found;
}

}  // namespace leapisim
