/* Event tracing off Windows, the controller's face: a small API that plays
 * the part of a trace session (enable a provider, receive its events), for
 * hosts, tools and tests. The provider calls are in evntprov.h.
 *
 * A provider enabled before it registers is told so at registration, as on
 * Windows. The controller calls the provider's enable callback on the
 * controller's thread. The consumer receives every EventWrite of every
 * registered provider, unfiltered: filtering by level and keyword is the
 * provider's own business. */
#ifndef ETWSHIM_ETWSHIM_H
#define ETWSHIM_ETWSHIM_H

/* The module is built against the provider face alone. */
#ifdef NOXB_TRACE_PROVIDER_FACE_ONLY
#error "the module includes etwshim/evntprov.h only"
#endif

#include <etwshim/evntprov.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Controller side ----------------------------------------------------- */

/* Enables the provider with `providerId` at `level` (0 = every level) with
 * the keyword masks; calls its enable callback now if it is registered, or
 * when it registers. */
ETWSHIM_API void EtwShimEnableProvider(const GUID* providerId, uint8_t level,
                                       uint64_t matchAnyKeyword, uint64_t matchAllKeyword);
/* Disables the provider: its enable callback gets the disable code. */
ETWSHIM_API void EtwShimDisableProvider(const GUID* providerId);

typedef void (*EtwShimConsumer)(const GUID* providerId, const EVENT_DESCRIPTOR* eventDescriptor,
                                uint32_t userDataCount, const EVENT_DATA_DESCRIPTOR* userData,
                                void* consumerContext);
/* Sets the one consumer (NULL to stop consuming). Returns only after any
 * delivery to the previous consumer has finished. */
ETWSHIM_API void EtwShimSetConsumer(EtwShimConsumer consumer, void* consumerContext);

/* Number of providers registered now. */
ETWSHIM_API uint32_t EtwShimRegisteredCount(void);

#ifdef __cplusplus
}
#endif

#endif /* ETWSHIM_ETWSHIM_H */
