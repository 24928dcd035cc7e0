// The platform's event-trace calls: advapi32 on Windows, the trace shim
// elsewhere. Only the event provider includes this.
#ifndef NOXB_LOGGING_TRACESYSTEM_H
#define NOXB_LOGGING_TRACESYSTEM_H

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: evntprov.h needs its types.
#include <evntprov.h>

// The enable callback's parameter types, which differ between the platforms.
#define NOXB_TRACE_CALLBACK NTAPI
using TraceControlCode = ULONG;
using TraceLevel = UCHAR;
using TraceKeyword = ULONGLONG;
using TraceFilter = PEVENT_FILTER_DESCRIPTOR;

#else

#include <etwshim/evntprov.h>

#define NOXB_TRACE_CALLBACK
using TraceControlCode = uint32_t;
using TraceLevel = uint8_t;
using TraceKeyword = uint64_t;
using TraceFilter = const void*;

#endif

#endif  // NOXB_LOGGING_TRACESYSTEM_H
