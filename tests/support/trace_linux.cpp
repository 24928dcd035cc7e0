// Trace records through the trace shim: a consumer for the module's provider,
// enabled at every level.
#include <noxb/Trace.h>

#include "testworld.h"
#include "tracecapture.h"

namespace testworld {

struct Trace::Impl {
    TraceCapture capture;
};

Trace::Trace() : impl(std::make_unique<Impl>()) { impl->capture.Enable(0); }

Trace::~Trace() = default;

bool Trace::Available() { return true; }

std::vector<Record> Trace::Records() const {
    std::vector<Record> records;
    for (const CapturedEvent& event : impl->capture.Events()) {
        const int level = noxb::trace::kEventInfo - event.descriptor.Id;
        records.push_back(
            {level, event.Message(), event.Module(), event.Function(), event.Line(), event.File()});
    }
    return records;
}

void Trace::Clear() { impl->capture.Clear(); }

}  // namespace testworld
