/* The module's records as LTTng-UST tracepoints: provider "noxblegatt", one
 * tracepoint per record level, so that a session can select by level either
 * by name or by log level. The texts are terminated strings: the shim makes
 * sure of it before they reach the tracer. */
#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER noxblegatt

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "noxblegatt_tp.h"

#if !defined(NOXBLEGATT_TP_H) || defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define NOXBLEGATT_TP_H

#include <lttng/tracepoint.h>

#include "lttngbridge.h"

/* The field list is one macro argument: a field a line. */
/* clang-format off */
LTTNG_UST_TRACEPOINT_EVENT_CLASS(
    noxblegatt, record, LTTNG_UST_TP_ARGS(const struct NoxbTraceRecord*, r),
    LTTNG_UST_TP_FIELDS(
        lttng_ust_field_integer(uint8_t, level, r->level)
        lttng_ust_field_integer(uint16_t, id, r->id)
        lttng_ust_field_string(message, r->text[0])
        lttng_ust_field_string(module, r->text[1])
        lttng_ust_field_string(function, r->text[2])
        lttng_ust_field_string(line, r->text[3])
        lttng_ust_field_string(file, r->text[4])))
/* clang-format on */

#define NOXB_TP_INSTANCE(name, loglevel)                                                     \
    LTTNG_UST_TRACEPOINT_EVENT_INSTANCE(noxblegatt, record, noxblegatt, name,                \
                                        LTTNG_UST_TP_ARGS(const struct NoxbTraceRecord*, r)) \
    LTTNG_UST_TRACEPOINT_LOGLEVEL(noxblegatt, name, loglevel)

NOXB_TP_INSTANCE(critical, LTTNG_UST_TRACEPOINT_LOGLEVEL_CRIT)
NOXB_TP_INSTANCE(error, LTTNG_UST_TRACEPOINT_LOGLEVEL_ERR)
NOXB_TP_INSTANCE(warning, LTTNG_UST_TRACEPOINT_LOGLEVEL_WARNING)
NOXB_TP_INSTANCE(info, LTTNG_UST_TRACEPOINT_LOGLEVEL_INFO)

#endif /* NOXBLEGATT_TP_H */

#include <lttng/tracepoint-event.h>
