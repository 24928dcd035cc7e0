// Scripted answers and the journal of calls received. Both are guarded by
// the stack's world mutex.
#ifndef LEAPISIM_JOURNAL_H
#define LEAPISIM_JOURNAL_H

#include <leapisim/leapisim.h>

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

namespace leapisim {

// The LEAPI_ functions, in header order.
enum class Fn : std::uint8_t {
    Initialize,
    Uninitialize,
    DevicesDiscoveryStart,
    DevicesDiscoveryGetNext,
    DevicesDiscoveryEnd,
    GATTSessionEstablishEx,
    GATTSessionClose,
    GATTSessionRSSIGet,
    ServicesDiscoveryStartByUUID,
    ServicesDiscoveryGetNext,
    ServicesDiscoveryEnd,
    CharacteristicsDiscoveryStartByUUID,
    CharacteristicsDiscoveryGetNext,
    CharacteristicsDiscoveryEnd,
    CharacteristicNotificationSubscribe,
    CharacteristicIndicationSubscribe,
    CharacteristicDescriptorsDiscoveryStart,
    CharacteristicDescriptorsDiscoveryGetNext,
    CharacteristicDescriptorsDiscoveryEnd,
    CharacteristicDescriptorWrite,
    CharacteristicReadLong,
    CharacteristicWriteLong,
};
constexpr std::size_t kFunctionCount = 22;

const char* FunctionName(Fn fn);
// False for a name that is not one of the LEAPI_ functions.
bool FunctionByName(const char* name, Fn* out);

class Scripts {
  public:
    void Add(Fn fn, std::uint32_t code, std::uint32_t count);
    // Takes one unit of the front entry; the code a call must answer, or 0
    // to behave normally.
    std::uint32_t Take(Fn fn);
    void Clear();

  private:
    struct Entry {
        std::uint32_t code;
        std::uint32_t remaining;
    };
    std::array<std::deque<Entry>, kFunctionCount> queues_;
};

class Journal {
  public:
    // Oldest entries are dropped beyond this, so a long run cannot grow
    // without bound.
    static constexpr std::size_t kCapacity = 100000;

    void Add(Fn fn, std::uint32_t result, std::initializer_list<std::uint64_t> args,
             const void* data = nullptr, std::size_t length = 0);
    // A CharacteristicValue is journalled as handle, length and `length`
    // data bytes, length clamped to 512.
    void AddWithValue(Fn fn, std::uint32_t result, std::initializer_list<std::uint64_t> args,
                      const CharacteristicValue* value);
    std::uint32_t Count() const;
    bool Get(std::uint32_t index, LeSimCall* out) const;
    void Clear();
    void Enable(bool on);

  private:
    struct Entry {
        Fn fn;
        std::uint32_t result;
        std::uint32_t argCount;
        std::uint64_t args[6];
        std::vector<std::uint8_t> data;
    };
    std::deque<Entry> entries_;
    bool enabled_ = true;
};

// Pointers and signed numbers as journal arguments.
inline std::uint64_t Arg(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
inline std::uint64_t Arg(LeCallback f) { return reinterpret_cast<std::uintptr_t>(f); }
inline std::uint64_t Arg(std::int64_t v) { return static_cast<std::uint64_t>(v); }
// The value an out-parameter holds after the call, 0 for a NULL pointer.
template <class T>
std::uint64_t Out(const T* p) {
    return p == nullptr ? 0 : static_cast<std::uint64_t>(*p);
}

}  // namespace leapisim

#endif  // LEAPISIM_JOURNAL_H
