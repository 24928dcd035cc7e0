// --trace: the module's trace records, printed as they are written.
#ifndef NOXBLE_TRACING_H
#define NOXBLE_TRACING_H

#include <string>

enum class TraceLevel { kOff, kError, kInfo };

// "off", "error" or "info"; throws UsageError for anything else.
TraceLevel ParseTraceLevel(const std::string& text);

// Off Windows: a trace session through the trace shim's controller that
// prints each record on stderr (level, module, function, message). On
// Windows: explains how to capture the module's events with the system's
// tools.
void SetTraceLevel(TraceLevel level);

#endif  // NOXBLE_TRACING_H
