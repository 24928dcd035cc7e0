// The one simulated stack of the process: the world of devices, sessions,
// discoveries in progress, scripts, the journal and the callback dispatcher.
// Everything but the dispatcher is guarded by `mutex`, which is never held
// while a callback runs or while waiting for one.
#ifndef LEAPISIM_STACK_H
#define LEAPISIM_STACK_H

#include <leapisim/leapisim.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dispatcher.h"
#include "gatt.h"
#include "journal.h"

namespace leapisim {

struct Device {
    std::uint32_t id = 0;
    LeDeviceRecord record{};
    std::uint8_t discoveryFlags = 0;
    bool removed = false;
    std::int16_t rssi = 0;
    GattDatabase gatt;
};

struct Subscription {
    std::uint16_t valueHandle;
    std::uint32_t kind;  // kNotify or kIndicate
    LeCallback callback;
    void* context;
};
constexpr std::uint32_t kNotify = 1;
constexpr std::uint32_t kIndicate = 2;

struct Session {
    std::uint32_t device = 0;
    LeCallback callback = nullptr;
    void* context = nullptr;
    std::vector<Subscription> subscriptions;
};

// Handles of one kind: a tag in the top byte keeps the kinds apart, the
// counter below it never repeats in the life of the process.
class HandleSource {
  public:
    explicit HandleSource(std::uint8_t tag) : tag_(tag) {}
    std::uint64_t Next() { return (static_cast<std::uint64_t>(tag_) << 56) | next_++; }

  private:
    std::uint8_t tag_;
    std::uint64_t next_ = 1;
};

// The records a discovery run found, handed out one by one: copies, or
// (Item = const Record*) the records themselves, where they outlive the run.
template <class Record, class Item = Record>
class DiscoveryTable {
  public:
    explicit DiscoveryTable(std::uint8_t tag) : handles_(tag) {}

    std::uint64_t Start(std::vector<Item> records) {
        std::uint64_t h = handles_.Next();
        runs_[h] = Run{std::move(records), 0};
        return h;
    }
    std::uint32_t GetNext(std::uint64_t handle, Record* out) {
        auto it = runs_.find(handle);
        if (it == runs_.end()) return LEAPI_ERROR_INVALID_DISCOVERY_HANDLE;
        Run& run = it->second;
        if (run.next >= run.records.size()) return LEAPI_ERROR_NO_MORE_ITEMS;
        *out = Of(run.records[run.next++]);
        return LEAPI_SUCCESS;
    }
    std::uint32_t End(std::uint64_t handle) {
        return runs_.erase(handle) == 1 ? LEAPI_SUCCESS : LEAPI_ERROR_INVALID_DISCOVERY_HANDLE;
    }
    void Clear() { runs_.clear(); }

  private:
    static const Record& Of(const Record& record) { return record; }
    static const Record& Of(const Record* record) { return *record; }
    struct Run {
        std::vector<Item> records;
        std::size_t next;
    };
    HandleSource handles_;
    std::map<std::uint64_t, Run> runs_;
};

class Stack {
  public:
    // Created on first use with the default world and never destroyed.
    static Stack& Instance();

    std::mutex mutex;

    // Starts a LEAPI_ call with the lock held: the code it must answer
    // without doing anything (a script's, or NOT_INITIALIZED when
    // `needsInit`), or 0 to go on.
    std::uint32_t Begin(Fn fn, bool needsInit);

    Device* FindDevice(std::uint32_t id);
    Device* FindDeviceByAddress(const std::uint8_t address[6]);
    Session* FindSession(std::uint64_t handle);
    // The open session with a device, or LEAPI_NO_SESSION.
    std::uint64_t SessionOf(std::uint32_t device) const;
    std::size_t SessionCount() const { return sessions_.size(); }

    std::uint64_t OpenSession(Session session);
    // Ends an open session in the stack; its session callback stays known for
    // device events until the handle is closed. False when not open.
    bool DropSession(std::uint64_t handle);
    // Forgets an open or dropped session. False when it was not open.
    bool CloseSession(std::uint64_t handle);
    // The session callback of an open or dropped session.
    bool SessionCallback(std::uint64_t handle, LeCallback* callback, void** context) const;

    // Queues a value event for every subscription of `session` on
    // `valueHandle` whose kind is in `kinds`; values over one record's
    // capacity are sent in fragments. Returns the callbacks queued.
    std::uint32_t SendValue(std::uint64_t session, std::uint16_t valueHandle, std::uint32_t kinds,
                            std::uint8_t flag, const std::uint8_t* bytes, std::size_t length,
                            bool fragment);
    std::uint32_t SendRaw(std::uint64_t session, std::uint16_t valueHandle, std::uint32_t event,
                          const void* record, std::size_t length);

    // Forgets every session, discovery and the stack-wide callback and marks
    // the stack uninitialised; returns the last callback sequence number to
    // drop. The caller then unlocks and calls dispatcher.Shutdown with it.
    std::uint64_t TearDownLocked();

    // The built-in devices (world.cpp); those whose address is already in
    // the world are not added again.
    void LoadDefaultWorldLocked();
    std::uint32_t AddDeviceLocked(const LeDeviceRecord& record, std::uint8_t discoveryFlags);

    bool initialized = false;
    LeCallback stackCallback = nullptr;
    void* stackContext = nullptr;
    std::uint64_t instance = 0;  // what Initialize writes to its slot
    // Changes at every teardown, so a blocking call can tell the stack was
    // reset under it.
    std::uint64_t epoch = 0;
    std::uint32_t msPerSecond = 1000;

    std::vector<std::unique_ptr<Device>> devices;  // id = index + 1
    // Device records stay until a reset, which ends every run.
    DiscoveryTable<LeDeviceRecord, const LeDeviceRecord*> deviceRuns{0x20};
    DiscoveryTable<LeServiceRecord> serviceRuns{0x30};
    DiscoveryTable<LeCharacteristicRecord> characteristicRuns{0x40};
    DiscoveryTable<LeDescriptorRecord> descriptorRuns{0x50};
    Scripts scripts;
    Journal journal;
    Dispatcher dispatcher;

  private:
    Stack() = default;

    struct Dropped {
        LeCallback callback;
        void* context;
    };
    // Dropped sessions whose handle was not closed yet; the oldest are
    // forgotten beyond this many.
    static constexpr std::size_t kDroppedKept = 1024;

    std::map<std::uint64_t, Session> sessions_;
    std::map<std::uint64_t, Dropped> dropped_;
    std::deque<std::uint64_t> droppedOrder_;
    HandleSource sessionHandles_{0x10};
};

// A device record with the given fields and zero bytes elsewhere; `name`
// is UTF-8, cut to what fits.
void MakeDeviceRecord(LeDeviceRecord* out, const std::uint8_t address[6], const char* name,
                      std::uint8_t majorClass, std::uint8_t minorClass, std::int8_t rssi,
                      bool connectable);

// The session value Establish returns beside the handle.
constexpr std::uint16_t kSessionExtra = 247;
// Value bytes carried by one value event record.
constexpr std::size_t kValueFragment = 244;

}  // namespace leapisim

#endif  // LEAPISIM_STACK_H
