#include "sessiontable.h"

#include <noxb/BleModel.h>

#include <algorithm>
#include <utility>
#include <vector>

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

void CallbackHolders::Hold(const std::shared_ptr<BleDevice>& device) {
    if (!device) return;
    held.Lock()->emplace(device.get(), device);
}

// What is let go of is destroyed after the lock, declared after it, is.
void CallbackHolders::Release(const BleDevice* device) {
    std::shared_ptr<BleDevice> last;
    const auto devices = held.Lock();
    auto it = devices->find(device);
    if (it == devices->end()) return;
    last = std::move(it->second);
    devices->erase(it);
}

void CallbackHolders::ReleaseOwnedBy(const void* owner) {
    std::vector<std::shared_ptr<BleDevice>> last;
    const auto devices = held.Lock();
    for (auto it = devices->begin(); it != devices->end();) {
        if (it->second->Owner() == owner) {
            last.push_back(std::move(it->second));
            it = devices->erase(it);
        } else {
            ++it;
        }
    }
}

void CallbackHolders::ReleaseAll() {
    std::map<const BleDevice*, std::shared_ptr<BleDevice>> last;
    last.swap(*held.Lock());
}

std::size_t CallbackHolders::Size() const { return held.Lock()->size(); }
