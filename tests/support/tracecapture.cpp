#include "tracecapture.h"

#include <cstring>

namespace {

const GUID kModuleProvider = [] {
    GUID id{noxb::trace::kProviderIdData1,
            noxb::trace::kProviderIdData2,
            noxb::trace::kProviderIdData3,
            {}};
    std::memcpy(id.Data4, noxb::trace::kProviderIdData4, sizeof id.Data4);
    return id;
}();

}  // namespace

TraceCapture::TraceCapture() { EtwShimSetConsumer(&TraceCapture::Consume, this); }

TraceCapture::~TraceCapture() {
    Disable();
    EtwShimSetConsumer(nullptr, nullptr);
}

void TraceCapture::Enable(std::uint8_t level, std::uint64_t matchAny, std::uint64_t matchAll) {
    EtwShimEnableProvider(&kModuleProvider, level, matchAny, matchAll);
}

void TraceCapture::Disable() { EtwShimDisableProvider(&kModuleProvider); }

std::vector<CapturedEvent> TraceCapture::Events() const {
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

void TraceCapture::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    events.clear();
}

void TraceCapture::Consume(const GUID* providerId, const EVENT_DESCRIPTOR* descriptor,
                           uint32_t count, const EVENT_DATA_DESCRIPTOR* items, void* context) {
    if (std::memcmp(providerId, &kModuleProvider, sizeof kModuleProvider) != 0) return;
    CapturedEvent event{*descriptor, {}, true};
    for (uint32_t i = 0; i < count; ++i) {
        const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(items[i].Ptr));
        const std::uint32_t size = items[i].Size;
        const bool terminated = size != 0 && text[size - 1] == '\0';
        event.terminated = event.terminated && terminated;
        event.fields.emplace_back(text, terminated ? size - 1 : size);
    }
    auto* capture = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> guard(capture->lock);
    capture->events.push_back(std::move(event));
}
