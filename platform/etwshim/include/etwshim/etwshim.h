/* Event tracing off Windows: the three provider calls of Windows event
 * tracing with their Windows shapes, and a small controller API that plays
 * the part of a trace session (enable a provider, receive its events).
 *
 * A provider enabled before it registers is told so at registration, as on
 * Windows. The controller calls the provider's enable callback on the
 * controller's thread. The consumer receives every EventWrite of every
 * registered provider, unfiltered: filtering by level and keyword is the
 * provider's own business. */
#ifndef ETWSHIM_ETWSHIM_H
#define ETWSHIM_ETWSHIM_H

#include <stdint.h>

#define ETWSHIM_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef uint64_t REGHANDLE;

typedef struct _EVENT_DESCRIPTOR {
    uint16_t Id;
    uint8_t Version;
    uint8_t Channel;
    uint8_t Level;
    uint8_t Opcode;
    uint16_t Task;
    uint64_t Keyword;
} EVENT_DESCRIPTOR;

typedef struct _EVENT_DATA_DESCRIPTOR {
    uint64_t Ptr;
    uint32_t Size;
    uint32_t Reserved;
} EVENT_DATA_DESCRIPTOR;

#define EVENT_CONTROL_CODE_DISABLE_PROVIDER 0u
#define EVENT_CONTROL_CODE_ENABLE_PROVIDER 1u

#define ETWSHIM_ERROR_SUCCESS 0u
#define ETWSHIM_ERROR_INVALID_PARAMETER 87u
#define ETWSHIM_ERROR_INVALID_HANDLE 6u

typedef void (*PENABLECALLBACK)(const GUID* sourceId, uint32_t controlCode, uint8_t level,
                                uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                                const void* filterData, void* callbackContext);

/* ---- Provider side (the Windows calls) ---------------------------------- */

ETWSHIM_API uint32_t EventRegister(const GUID* providerId, PENABLECALLBACK enableCallback,
                                   void* callbackContext, REGHANDLE* regHandle);
ETWSHIM_API uint32_t EventWrite(REGHANDLE regHandle, const EVENT_DESCRIPTOR* eventDescriptor,
                                uint32_t userDataCount, EVENT_DATA_DESCRIPTOR* userData);
ETWSHIM_API uint32_t EventUnregister(REGHANDLE regHandle);

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
