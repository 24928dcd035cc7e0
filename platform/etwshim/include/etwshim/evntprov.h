/* Event tracing off Windows, the provider's face: the three calls a trace
 * provider makes, with their Windows shapes and types (the counterpart of
 * the Windows header that declares them). This is all the module sees of the
 * trace shim; the controller side is in etwshim.h. */
#ifndef ETWSHIM_EVNTPROV_H
#define ETWSHIM_EVNTPROV_H

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

ETWSHIM_API uint32_t EventRegister(const GUID* providerId, PENABLECALLBACK enableCallback,
                                   void* callbackContext, REGHANDLE* regHandle);
ETWSHIM_API uint32_t EventWrite(REGHANDLE regHandle, const EVENT_DESCRIPTOR* eventDescriptor,
                                uint32_t userDataCount, EVENT_DATA_DESCRIPTOR* userData);
ETWSHIM_API uint32_t EventUnregister(REGHANDLE regHandle);

#ifdef __cplusplus
}
#endif

#endif /* ETWSHIM_EVNTPROV_H */
