// A trace session for tests (Linux): enables the module's provider through the
// shim's controller and keeps every event the provider writes.
#ifndef NOXB_TESTS_SUPPORT_TRACECAPTURE_H
#define NOXB_TESTS_SUPPORT_TRACECAPTURE_H

#include <etwshim/etwshim.h>
#include <noxb/Trace.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct CapturedEvent {
    EVENT_DESCRIPTOR descriptor;
    std::vector<std::string> fields;  // the text before each terminator
    bool terminated = true;           // every item's last byte is its NUL

    const std::string& Message() const { return fields.at(noxb::trace::kMessage); }
    const std::string& Module() const { return fields.at(noxb::trace::kModule); }
    const std::string& Function() const { return fields.at(noxb::trace::kFunction); }
    const std::string& Line() const { return fields.at(noxb::trace::kLine); }
    const std::string& File() const { return fields.at(noxb::trace::kFile); }
};

class TraceCapture {
  public:
    TraceCapture();
    ~TraceCapture();

    void Enable(std::uint8_t level, std::uint64_t matchAny = noxb::trace::kKeyword,
                std::uint64_t matchAll = 0);
    void Disable();

    std::vector<CapturedEvent> Events() const;
    void Clear();

  private:
    static void Consume(const GUID* providerId, const EVENT_DESCRIPTOR* descriptor, uint32_t count,
                        const EVENT_DATA_DESCRIPTOR* items, void* context);

    mutable std::mutex lock;
    std::vector<CapturedEvent> events;
};

#endif  // NOXB_TESTS_SUPPORT_TRACECAPTURE_H
