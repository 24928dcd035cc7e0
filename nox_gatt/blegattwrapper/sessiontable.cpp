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
    std::lock_guard<std::mutex> hold(guard);
    entries[address] = session;
}

void SessionTable::Erase(const BleAddress& address) {
    std::lock_guard<std::mutex> hold(guard);
    entries.erase(address);
}

std::optional<std::uint64_t> SessionTable::Find(const BleAddress& address) const {
    std::lock_guard<std::mutex> hold(guard);
    auto it = entries.find(address);
    if (it == entries.end()) return std::nullopt;
    return it->second;
}

std::size_t SessionTable::Size() const {
    std::lock_guard<std::mutex> hold(guard);
    return entries.size();
}

void SessionTable::Clear() {
    std::lock_guard<std::mutex> hold(guard);
    entries.clear();
}

void CallbackHolders::Hold(const std::shared_ptr<BleDevice>& device) {
    if (!device) return;
    std::lock_guard<std::mutex> hold(guard);
    held.emplace(device.get(), device);
}

void CallbackHolders::Release(const BleDevice* device) {
    std::shared_ptr<BleDevice> last;  // destroyed after the lock is let go
    std::lock_guard<std::mutex> hold(guard);
    auto it = held.find(device);
    if (it == held.end()) return;
    last = std::move(it->second);
    held.erase(it);
}

void CallbackHolders::ReleaseOwnedBy(const void* owner) {
    std::vector<std::shared_ptr<BleDevice>> last;  // destroyed after the lock is let go
    std::lock_guard<std::mutex> hold(guard);
    for (auto it = held.begin(); it != held.end();) {
        if (it->second->Owner() == owner) {
            last.push_back(std::move(it->second));
            it = held.erase(it);
        } else {
            ++it;
        }
    }
}

void CallbackHolders::ReleaseAll() {
    std::map<const BleDevice*, std::shared_ptr<BleDevice>> last;
    {
        std::lock_guard<std::mutex> hold(guard);
        last.swap(held);
    }
}

std::size_t CallbackHolders::Size() const {
    std::lock_guard<std::mutex> hold(guard);
    return held.size();
}
