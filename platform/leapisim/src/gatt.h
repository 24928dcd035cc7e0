// The GATT database of one simulated device: services, characteristics and
// descriptors with their attribute handles, and what reads and writes do.
#ifndef LEAPISIM_GATT_H
#define LEAPISIM_GATT_H

#include <leapisim/leapisim.h>

#include <cstdint>
#include <vector>

namespace leapisim {

using Bytes = std::vector<std::uint8_t>;

// Type bytes equal; a 16-bit UUID compares its two value bytes, any other
// type all sixteen.
bool UuidEquals(const LeUuid& a, const LeUuid& b);
LeUuid Uuid16(std::uint16_t value);

struct Descriptor {
    std::uint16_t handle = 0;
    LeUuid uuid{};
    Bytes value;

    bool IsClientConfig() const;
};

struct Characteristic {
    std::uint16_t declarationHandle = 0;
    std::uint16_t valueHandle = 0;
    LeUuid uuid{};
    std::uint8_t properties = 0;
    LeSimValueBehaviour behaviour = LESIM_VALUE_STORE;
    std::vector<Descriptor> descriptors;
    Bytes lastWritten;  // what LeSimLastWrittenValue reports
    Bytes stored;       // STORE: what reads return
    // ECHO: values waiting to be read, oldest first. Few ever wait; a deque
    // would allocate a block for every characteristic made.
    std::vector<Bytes> readQueue;

    std::uint16_t LastHandle() const;
    // Bits 0 (notify) and 1 (indicate) of the client configuration
    // descriptor, 0 when there is none.
    std::uint16_t ClientConfig() const;
    void Write(const std::uint8_t* bytes, std::size_t length);
    void QueueRead(const std::uint8_t* bytes, std::size_t length);
    Bytes Read();
};

struct Service {
    std::uint16_t firstHandle = 0;
    LeUuid uuid{};
    std::vector<Characteristic> characteristics;

    std::uint16_t LastHandle() const;
};

class GattDatabase {
  public:
    // Each returns the new attribute's handle, 0 when the handle space is
    // used up or there is nothing to add to.
    std::uint16_t AddService(const LeUuid& uuid);
    std::uint16_t AddCharacteristic(const LeUuid& uuid, std::uint8_t properties,
                                    LeSimValueBehaviour behaviour);
    std::uint16_t AddDescriptor(const LeUuid& uuid);

    Characteristic* CharacteristicAt(std::uint16_t valueHandle);
    Descriptor* DescriptorAt(std::uint16_t handle);

    std::vector<LeServiceRecord> FindServices(const LeUuid& uuid) const;
    // Characteristics whose declaration lies in [first, last].
    std::vector<LeCharacteristicRecord> FindCharacteristics(std::uint16_t first, std::uint16_t last,
                                                            const LeUuid& uuid) const;
    // Descriptors of `c` with handles in (c.valueHandle, last].
    static std::vector<LeDescriptorRecord> DescriptorsOf(const Characteristic& c,
                                                         std::uint16_t last);

  private:
    std::uint16_t Allocate(unsigned count);

    std::vector<Service> services_;
    unsigned nextHandle_ = 1;
};

}  // namespace leapisim

#endif  // LEAPISIM_GATT_H
