#include "sessiontable.h"

#include <noxb/BleModel.h>

#include <algorithm>
#include <iterator>

SessionTable sessionsByAddress;
CallbackHolders callbackHolders;

BleAddress AddressOf(const BleDevice& device) {
    BleAddress address;
    std::copy(std::begin(device.deviceInfo.address), std::end(device.deviceInfo.address),
              address.begin());
    return address;
}

void SessionTable::Set(const BleAddress& address, std::uint64_t session) {
    (*entries.Lock())[address] = session;
}

void SessionTable::Erase(const BleAddress& address) { entries.Lock()->erase(address); }

std::optional<std::uint64_t> SessionTable::Find(const BleAddress& address) const {
    const auto table = entries.Lock();
    auto it = table->find(address);
    if (it == table->end()) return std::nullopt;
    return it->second;
}

std::size_t SessionTable::Size() const { return entries.Lock()->size(); }

void SessionTable::Clear() { entries.Lock()->clear(); }

// A device holds itself only from its member functions, so it is never null.
void CallbackHolders::Hold(const std::shared_ptr<BleDevice>& device) {
    held.Lock()->emplace(device.get(), device);
}

// What is let go of is destroyed after the lock is, outside it.
void CallbackHolders::Release(const BleDevice* device) {
    const auto last = held.Lock()->extract(device);
}

void CallbackHolders::ReleaseOwnedBy(const void* owner) {
    Devices last;  // declared before the lock, so destroyed after it
    const auto devices = held.Lock();
    for (auto it = devices->begin(); it != devices->end();) {
        const auto next = std::next(it);
        if (it->second->Owner() == owner) last.insert(devices->extract(it));
        it = next;
    }
}

void CallbackHolders::ReleaseAll() {
    Devices last;
    last.swap(*held.Lock());
}

std::size_t CallbackHolders::Size() const { return held.Lock()->size(); }
