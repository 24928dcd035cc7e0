/* The tracepoint provider lives here, inside the trace shim, so that a host
 * needs no extra library to be traced. */
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#include "noxblegatt_tp.h"

void NoxbLttngWrite(const struct NoxbTraceRecord* record) {
    switch (record->level) {
        case 1:
            lttng_ust_tracepoint(noxblegatt, critical, record);
            break;
        case 2:
            lttng_ust_tracepoint(noxblegatt, error, record);
            break;
        case 3:
            lttng_ust_tracepoint(noxblegatt, warning, record);
            break;
        default:
            lttng_ust_tracepoint(noxblegatt, info, record);
            break;
    }
}

uint8_t NoxbLttngEnabledLevel(void) {
    if (lttng_ust_tracepoint_enabled(noxblegatt, info)) return 4;
    if (lttng_ust_tracepoint_enabled(noxblegatt, warning)) return 3;
    if (lttng_ust_tracepoint_enabled(noxblegatt, error)) return 2;
    if (lttng_ust_tracepoint_enabled(noxblegatt, critical)) return 1;
    return 0;
}
