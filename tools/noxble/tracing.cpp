#include "tracing.h"

#include <noxb/Trace.h>

#include <cstdio>
#include <cstring>

#include "output.h"

#if !defined(_WIN32)
#include <etwshim/etwshim.h>
#endif

TraceLevel ParseTraceLevel(const std::string& text) {
    if (text == "off") return TraceLevel::kOff;
    if (text == "error") return TraceLevel::kError;
    if (text == "info") return TraceLevel::kInfo;
    throw UsageError(ExitCode::kUsage,
                     "trace level must be off, error or info, not \"" + text + "\"");
}

#if defined(_WIN32)

void SetTraceLevel(TraceLevel level) {
    if (level == TraceLevel::kOff) return;
    std::fprintf(stderr,
                 "noxble: on Windows the module writes its records as events of the trace "
                 "provider %s (%s).\n"
                 "  capture them with:  logman start noxb -p %s 0x%llx %d -o noxb.etl -ets\n"
                 "                      ... run noxble ...\n"
                 "                      logman stop noxb -ets\n"
                 "  and read them with: tracerpt noxb.etl -o noxb.xml -of XML\n"
                 "  (with noxblegatt.man registered, the fields have their names: "
                 "docs/tracing.md)\n",
                 noxb::trace::kProviderName, noxb::trace::kProviderIdText,
                 noxb::trace::kProviderIdText,
                 static_cast<unsigned long long>(noxb::trace::kKeyword),
                 level == TraceLevel::kError ? 2 : 4);
}

#else

namespace {

GUID ProviderId() {
    GUID id{noxb::trace::kProviderIdData1,
            noxb::trace::kProviderIdData2,
            noxb::trace::kProviderIdData3,
            {}};
    std::memcpy(id.Data4, noxb::trace::kProviderIdData4, sizeof id.Data4);
    return id;
}

const char* LevelName(std::uint8_t level) {
    switch (level) {
        case 1:
            return "CRIT ";
        case 2:
            return "ERROR";
        case 3:
            return "WARN ";
        default:
            return "INFO ";
    }
}

void PrintRecord(const GUID*, const EVENT_DESCRIPTOR* descriptor, std::uint32_t count,
                 const EVENT_DATA_DESCRIPTOR* data, void*) {
    if (count < noxb::trace::kFieldCount) return;
    auto field = [&](unsigned i) {
        return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(data[i].Ptr));
    };
    std::fprintf(stderr, "  trace: %s %-10s %-36s %s\n", LevelName(descriptor->Level),
                 field(noxb::trace::kModule), field(noxb::trace::kFunction),
                 field(noxb::trace::kMessage));
}

}  // namespace

void SetTraceLevel(TraceLevel level) {
    const GUID id = ProviderId();
    if (level == TraceLevel::kOff) {
        EtwShimDisableProvider(&id);
        EtwShimSetConsumer(nullptr, nullptr);
        return;
    }
    EtwShimSetConsumer(&PrintRecord, nullptr);
    EtwShimEnableProvider(&id, level == TraceLevel::kError ? 2 : 4, noxb::trace::kKeyword, 0);
}

#endif
