// Worlds of devices for the module's tests, built in the simulated stack, and
// a cross-platform view of the module's trace records.
#ifndef NOXB_TESTS_SUPPORT_TESTWORLD_H
#define NOXB_TESTS_SUPPORT_TESTWORLD_H

#include <leapisim/leapisim.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testworld {

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
    bool connectable = true;
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
    std::wstring Address() const;  // the text the module gives the address
};

// Adds the device (and its GATT database) to the simulated world.
TestDevice AddDevice(const DeviceSpec& spec);
inline TestDevice AddDevice() { return AddDevice(DeviceSpec{}); }

// The calls the stack received, oldest first, and their names.
std::vector<LeSimCall> Journal();
std::vector<std::string> JournalNames();
// Only the calls of one function.
std::vector<LeSimCall> JournalOf(const std::string& function);

// One module trace record: level (0 Info ... 3 Critical), and the five fields.
struct Record {
    int level;
    std::string message, module, function, line, file;
};

// Collects the module's trace records while it lives (Linux: through the
// trace shim; under Wine no trace session exists and Available() is false,
// so record checks are skipped there).
class Trace {
  public:
    Trace();
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    static bool Available();
    std::vector<Record> Records() const;
    std::vector<std::string> Messages() const;
    // Messages of records written by one function ("Class::Method").
    std::vector<std::string> MessagesOf(const std::string& function) const;
    void Clear();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace testworld

#endif  // NOXB_TESTS_SUPPORT_TESTWORLD_H
