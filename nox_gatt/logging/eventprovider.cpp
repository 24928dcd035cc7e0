#include "eventprovider.h"

#include <noxb/Trace.h>

#include "tracesystem.h"

namespace {

constexpr std::uint64_t kEventKeyword[kEventCount] = {noxb::trace::kKeyword, noxb::trace::kKeyword,
                                                      noxb::trace::kKeyword, noxb::trace::kKeyword};
constexpr std::uint8_t kEventLevel[kEventCount] = {1, 2, 3, 4};

constexpr EVENT_DESCRIPTOR kEventDescriptor[kEventCount] = {
    {noxb::trace::kEventCritical, 0, noxb::trace::kChannel, 1, 0, 0, noxb::trace::kKeyword},
    {noxb::trace::kEventError, 0, noxb::trace::kChannel, 2, 0, 0, noxb::trace::kKeyword},
    {noxb::trace::kEventWarning, 0, noxb::trace::kChannel, 3, 0, 0, noxb::trace::kKeyword},
    {noxb::trace::kEventInfo, 0, noxb::trace::kChannel, 4, 0, 0, noxb::trace::kKeyword},
};

const GUID kProviderId = {noxb::trace::kProviderIdData1,
                          noxb::trace::kProviderIdData2,
                          noxb::trace::kProviderIdData3,
                          {noxb::trace::kProviderIdData4[0], noxb::trace::kProviderIdData4[1],
                           noxb::trace::kProviderIdData4[2], noxb::trace::kProviderIdData4[3],
                           noxb::trace::kProviderIdData4[4], noxb::trace::kProviderIdData4[5],
                           noxb::trace::kProviderIdData4[6], noxb::trace::kProviderIdData4[7]}};

EventProviderContext providerContext;
// Written only while the logger instance is built and destroyed.
REGHANDLE registrationHandle = 0;

void NOXB_TRACE_CALLBACK OnProviderEnableChanged(const GUID* /*sourceId*/,
                                                 TraceControlCode controlCode, TraceLevel level,
                                                 TraceKeyword matchAnyKeyword,
                                                 TraceKeyword matchAllKeyword,
                                                 TraceFilter /*filterData*/,
                                                 void* callbackContext) {
    if (callbackContext == nullptr) {
        return;
    }
    ApplyEnableRequest(*static_cast<EventProviderContext*>(callbackContext), controlCode, level,
                       matchAnyKeyword, matchAllKeyword);
}

EVENT_DATA_DESCRIPTOR TextItem(const std::string& text) {
    EVENT_DATA_DESCRIPTOR item{};
    item.Ptr = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(text.c_str()));
    item.Size = static_cast<std::uint32_t>(text.size() + 1);  // the terminator counts
    return item;
}

}  // namespace

void ApplyEnableRequest(EventProviderContext& context, std::uint32_t controlCode,
                        std::uint8_t level, std::uint64_t matchAnyKeyword,
                        std::uint64_t matchAllKeyword) {
    if (controlCode == 0) {
        context.isEnabled = 0;
        context.level = 0;
        context.matchAnyKeyword = 0;
        context.matchAllKeyword = 0;
        context.enableBitMask = 0;
        return;
    }
    if (controlCode != 1) {
        return;
    }
    context.level = level;
    context.matchAnyKeyword = matchAnyKeyword;
    context.matchAllKeyword = matchAllKeyword;
    context.isEnabled = 1;
    std::uint32_t mask = 0;
    for (std::size_t event = 0; event < kEventCount; ++event) {
        const bool levelMatches = level == 0 || kEventLevel[event] <= level;
        const std::uint64_t keyword = kEventKeyword[event];
        const bool keywordMatches =
            keyword == 0 ||
            ((keyword & matchAnyKeyword) != 0 && (keyword & matchAllKeyword) == matchAllKeyword);
        if (levelMatches && keywordMatches) {
            mask |= 1u << event;
        }
    }
    context.enableBitMask = mask;
}

int EventIndexOf(LogLevel level) {
    switch (level) {
        case LogLevel::Critical:
            return 0;
        case LogLevel::Error:
            return 1;
        case LogLevel::Warning:
            return 2;
        case LogLevel::Info:
            return 3;
    }
    return -1;
}

void RegisterEventProvider() {
    if (registrationHandle != 0) {
        return;
    }
    REGHANDLE handle{};
    if (EventRegister(&kProviderId, OnProviderEnableChanged, &providerContext, &handle) == 0) {
        registrationHandle = handle;
    }
}

void UnregisterEventProvider() {
    if (registrationHandle == 0) {
        return;
    }
    EventUnregister(registrationHandle);
    registrationHandle = 0;
    // Nothing is written after unregistration, whatever was enabled.
    providerContext.enableBitMask = 0;
}

bool IsEventEnabled(int event) {
    return (providerContext.enableBitMask.load(std::memory_order_relaxed) & (1u << event)) != 0;
}

void WriteTraceEvent(int event, const LogRecord& record) {
    EVENT_DATA_DESCRIPTOR payload[noxb::trace::kFieldCount] = {
        TextItem(record.message), TextItem(record.module), TextItem(record.function),
        TextItem(record.line), TextItem(record.file)};
    EventWrite(registrationHandle, &kEventDescriptor[event], noxb::trace::kFieldCount, payload);
}
