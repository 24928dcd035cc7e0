// Helpers for the simulated stack's tests: a callback recorder and a fixture
// that starts from an empty, initialised stack.
#ifndef LEAPISIM_TESTS_SIM_TEST_UTIL_H
#define LEAPISIM_TESTS_SIM_TEST_UTIL_H

#include <gtest/gtest.h>
#include <leapisim/leapisim.h>

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "testworld.h"

namespace simtest {

using testworld::DataCharacteristicUuid;
using testworld::Journal;
inline LeUuid U16(std::uint16_t v) { return testworld::Uuid16(v); }

// Copies a packed record field, so that gtest (which takes its operands by
// reference) never binds a reference to a misaligned field.
template <class T>
T F(T v) {
    return v;
}

struct Event {
    std::uint32_t code;
    bool nullData;
    std::vector<std::uint8_t> data;  // the record's bytes, where its length is known
    void* context;
    std::thread::id thread;

    LeValueEventHeader Value() const {
        LeValueEventHeader h;
        std::memcpy(&h, data.data(), sizeof h);
        return h;
    }
};

// Collects the callbacks it is registered for; the recorder is the context.
class Recorder {
  public:
    static void Callback(std::uint32_t code, const void* data, void* context) {
        auto* self = static_cast<Recorder*>(context);
        if (self->hook) self->hook(code);
        std::size_t length = 0;
        if (data != nullptr && code == LEAPI_EVENT_SESSION_ESTABLISHED) {
            length = sizeof(LeSessionEstablishedEvent);
        } else if (data != nullptr && code == LEAPI_EVENT_CHARACTERISTIC_VALUE) {
            LeValueEventHeader h;
            std::memcpy(&h, data, sizeof h);
            length = sizeof h + h.length;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->events_.push_back(
            {code, data == nullptr, {bytes, bytes + length}, context, std::this_thread::get_id()});
    }

    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

    // Runs on the stack's thread before the event is recorded; set it before
    // the first event can arrive.
    std::function<void(std::uint32_t)> hook;

  private:
    std::mutex mutex_;
    std::vector<Event> events_;
};

struct TestDevice {
    std::uint32_t id;
    LeDeviceRecord record;
};

// A device without services.
inline TestDevice AddDevice(std::uint8_t last, const char* name = "Phone", bool connectable = true,
                            std::uint8_t flags = testworld::kAllPasses) {
    const std::uint8_t address[6] = {0x10, 0x20, 0x30, 0x40, 0x50, last};
    TestDevice d{};
    LeSimMakeDeviceRecord(&d.record, address, name, 2, 12, -60, connectable ? 1 : 0);
    d.id = LeSimAddDevice(&d.record, flags);
    return d;
}

inline CharacteristicValue Value(std::uint16_t handle, std::size_t length, std::uint8_t seed = 0) {
    CharacteristicValue v{handle, static_cast<std::uint16_t>(length), {}};
    for (std::size_t i = 0; i < length && i < sizeof v.data; ++i) v.data[i] = seed + i;
    return v;
}

// Every test starts from an empty, initialised stack.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LeSimReset();
        ASSERT_EQ(LEAPI_Initialize(&Recorder::Callback, &stackEvents, nullptr), LEAPI_SUCCESS);
    }
    void TearDown() override { LeSimReset(); }

    std::uint64_t Open(const TestDevice& d, Recorder* recorder) {
        std::uint64_t session = LEAPI_NO_SESSION;
        std::uint16_t extra = 0;
        EXPECT_EQ(LEAPI_GATTSessionEstablishEx(&d.record, &Recorder::Callback, recorder,
                                               LEAPI_SESSION_OPTION_DEFAULT, &session, &extra),
                  LEAPI_SUCCESS);
        return session;
    }

    // Recorders live in the fixture so that they outlive every callback:
    // members are destroyed after TearDown's reset.
    Recorder stackEvents;
    Recorder rec;
    Recorder& Another() { return others_.emplace_back(); }

  private:
    std::deque<Recorder> others_;
};

}  // namespace simtest

#endif  // LEAPISIM_TESTS_SIM_TEST_UTIL_H
