/* The trace shim's road to LTTng-UST: the records it writes become
 * tracepoint events, and the tracer's sessions count as listeners. */
#ifndef ETWSHIM_LTTNGBRIDGE_H
#define ETWSHIM_LTTNGBRIDGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NOXB_TRACE_TEXTS 5

/* A record's level, id and its terminated texts in order: message, module,
 * function, line, file. */
struct NoxbTraceRecord {
    uint8_t level;
    uint16_t id;
    const char* text[NOXB_TRACE_TEXTS];
};

/* Emits the record on the tracepoint of its level: 1 critical, 2 error,
 * 3 warning, any other info. Costs one load per call when no session has it
 * enabled. */
void NoxbLttngWrite(const struct NoxbTraceRecord* record);

/* The most verbose level some session has enabled (4 info, 3 warning,
 * 2 error, 1 critical), or 0 when no session listens. */
uint8_t NoxbLttngEnabledLevel(void);

#ifdef __cplusplus
}
#endif

#endif /* ETWSHIM_LTTNGBRIDGE_H */
