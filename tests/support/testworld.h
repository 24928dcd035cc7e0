// Shared helpers of the module's and the simulated stack's tests: worlds of
// devices, the stack's journal, the module's trace records, what an operation
// threw, and an events object recording what the host is told.
#ifndef NOXB_TESTS_SUPPORT_TESTWORLD_H
#define NOXB_TESTS_SUPPORT_TESTWORLD_H

#include <leapisim/leapisim.h>
#include <noxb/BleModel.h>
#include <noxb/IBTProvider.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testworld {

using Lines = std::vector<std::string>;

LeUuid Uuid16(std::uint16_t value);
LeUuid DataServiceUuid();
LeUuid DataCharacteristicUuid();
constexpr std::uint8_t kAllPasses = LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN;

// What a test device offers. The defaults make a phone with a working data
// service: an echoing data characteristic with notify and indicate, and a
// user description and a client configuration descriptor.
struct DeviceSpec {
    std::uint8_t lastAddressByte = 1;
    std::string name = "Phone";
    std::uint8_t majorClass = 2;
    std::uint8_t minorClass = 12;
    std::int8_t rssi = -60;
    std::uint8_t discoveryFlags = kAllPasses;
    int dataServices = 1;            // 0: none; 2: offered twice
    bool dataCharacteristic = true;  // in the first data service
    std::uint8_t properties =
        LEAPI_PROP_READ | LEAPI_PROP_WRITE | LEAPI_PROP_NOTIFY | LEAPI_PROP_INDICATE;
    LeSimValueBehaviour behaviour = LESIM_VALUE_ECHO;
    std::vector<LeUuid> descriptors = {Uuid16(0x2901), Uuid16(0x2902)};
};

struct TestDevice {
    std::uint32_t id = 0;
    LeDeviceRecord record{};
    std::uint16_t valueHandle = 0;  // of the data characteristic, 0 if none
    std::vector<std::uint16_t> descriptorHandles;
};

// Adds the device (and its GATT database) to the simulated world.
TestDevice AddDevice(const DeviceSpec& spec = DeviceSpec{});
// The entry a scan's first pass reports for a test device.
BleDeviceEntry EntryOf(const TestDevice& device);

// The calls the stack received, oldest first; only those of one function.
std::vector<LeSimCall> Journal();
std::vector<LeSimCall> JournalOf(const std::string& function);
std::vector<std::string> JournalNames();
// A stack code as the module writes it: signed decimal.
std::string Code(std::uint32_t code);
// The calls' names, each with its result when that is not 0 ("LEAPI_X=-353763293").
Lines CallsWithResults();

// Collects the module's trace records while it lives (Linux: through the
// trace shim; under Wine no trace session exists: Available() is false and
// there are no records, so record checks expect none there).
class Trace {
  public:
    Trace();
    ~Trace();
    static bool Available();
    // Records as "<I|W|E|C> <module> <function>: <message>", oldest first;
    // only those of the named functions when any are named.
    Lines Of(const std::vector<std::string>& functions = {}) const;
    void Clear();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// The exact type of what `op` threw, "none" when it returned: "General <code>",
// "ConnectionFailed", "ServiceNotFound" or "unexpected: <what>".
std::string Outcome(const std::function<void()>& op);
inline std::string General(std::uint32_t code) { return "General " + Code(code); }

struct Timed {
    std::string outcome;
    double seconds;
};
Timed TimedOutcome(const std::function<void()>& op);

// What reached the host through IBleGattEvents, and on which thread.
class HostEvents final : public IBleGattEvents {
  public:
    enum Slot { kDisconnected, kData, kEstablished };
    struct Call {
        Slot slot;
        void* context;
        const void* object;  // the device or the characteristic
        std::uint64_t session;
        std::thread::id thread;
        std::string bytes;  // kData: what it took when `take`; kDisconnected: the address
    };
    void OnDeviceDisconnected(void* ctx, BleDevice* device) override;
    void OnCharacteristicData(void* ctx, BleCharacteristicInfo* info) override;
    void OnSessionEstablished(void* ctx, std::uint64_t session) override;
    std::vector<Call> Calls() const;
    void Clear();
    std::atomic<bool> take{false};  // take the notifications inside OnCharacteristicData

  private:
    void Add(Call call);
    mutable std::mutex guard;
    std::vector<Call> calls;
};

}  // namespace testworld

#endif  // NOXB_TESTS_SUPPORT_TESTWORLD_H
