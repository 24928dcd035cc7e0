/* The C ABI of the LE stack library "leapi" (leapi.dll / libleapi.so).
 *
 * Every function returns a 32-bit code, 0 on success. Records are packed and
 * little-endian. Callbacks run on the stack's own threads, never on the
 * thread that made the call that caused them. */
#ifndef LEAPI_LEAPI_H
#define LEAPI_LEAPI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(LEAPI_BUILDING_LIBRARY)
#define LEAPI_API __declspec(dllexport)
#else
#define LEAPI_API __declspec(dllimport)
#endif
#else
#define LEAPI_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Return codes ------------------------------------------------------ */

#define LEAPI_SUCCESS 0x00000000u
/* Initialize: the stack was already initialised in this process. */
#define LEAPI_ALREADY_INITIALIZED 0x6AEA0025u
#define LEAPI_ERROR_NOT_INITIALIZED 0xEAEA0001u
#define LEAPI_ERROR_INVALID_PARAMETER 0xEAEA0002u
#define LEAPI_ERROR_DEVICE_NOT_FOUND 0xEAEA0010u
#define LEAPI_ERROR_NO_MORE_ITEMS 0xEAEA0011u
#define LEAPI_ERROR_INVALID_DISCOVERY_HANDLE 0xEAEA0012u
#define LEAPI_ERROR_NOT_CONNECTABLE 0xEAEA0013u
/* GATTSessionEstablishEx: a session with the device is already open. */
#define LEAPI_ERROR_SESSION_EXISTS 0xEAEA0019u
/* GATTSessionClose and every call on a session: no such session. */
#define LEAPI_ERROR_INVALID_SESSION_HANDLE 0xEAEA001Bu
/* Notification/IndicationSubscribe: the characteristic does not offer it. */
#define LEAPI_ERROR_NOT_OFFERED 0xEAEA0020u
#define LEAPI_ERROR_INVALID_ATTRIBUTE_HANDLE 0xEAEA0021u
/* ReadLong: the value is not ready yet; ask again at once. */
#define LEAPI_ERROR_AGAIN 0xEAEA0022u
#define LEAPI_ERROR_INVALID_LENGTH 0xEAEA0023u
#define LEAPI_ERROR_NOT_PERMITTED 0xEAEA0024u
/* DevicesDiscoveryStart: the radio is busy; try again shortly. */
#define LEAPI_ERROR_BUSY 0xEAEA1000u

/* ---- Events ------------------------------------------------------------ */

/* Session events, delivered to the callback given to GATTSessionEstablishEx. */
#define LEAPI_EVENT_SESSION_DISCONNECTED 0x1020u /* no data */
#define LEAPI_EVENT_SESSION_ESTABLISHED 0x1030u  /* LeSessionEstablishedEvent */
#define LEAPI_EVENT_SESSION_CLOSED 0x1040u       /* LeSessionClosedEvent */
#define LEAPI_EVENT_SERVICES_CHANGED 0x1230u     /* no data */
/* Value events, delivered to the callback given to a subscription. */
#define LEAPI_EVENT_CHARACTERISTIC_VALUE 0x1210u /* LeValueEventHeader + bytes */
/* Stack-wide events, delivered to the callback given to Initialize. */
#define LEAPI_EVENT_RADIO_STATE 0x1240u   /* one 32-bit word */
#define LEAPI_EVENT_DEVICE_PAIRED 0x1250u /* first 14 bytes of a device record */
#define LEAPI_EVENT_DEVICE_LOST 0x1260u   /* first 14 bytes of a device record */

/* ---- Argument values --------------------------------------------------- */

/* DevicesDiscoveryStart flags: which devices a run reports. Bit 0: devices
 * heard advertising during the run; bit 1: devices the stack already knows. */
#define LEAPI_DISCOVERY_LIVE 0x01u
#define LEAPI_DISCOVERY_KNOWN 0x02u
/* GATTSessionEstablishEx option. */
#define LEAPI_SESSION_OPTION_DEFAULT 2u
/* The session handle that names no session. */
#define LEAPI_NO_SESSION UINT64_MAX
/* Characteristic record property bits (its one byte after the UUID). */
#define LEAPI_PROP_READ 0x02u
#define LEAPI_PROP_WRITE 0x08u
#define LEAPI_PROP_NOTIFY 0x10u
#define LEAPI_PROP_INDICATE 0x20u
/* Value event flag: more fragments of the same value follow. */
#define LEAPI_VALUE_FLAG_MORE 0x01u

#define LEAPI_MAX_VALUE_LENGTH 512u
#define LEAPI_DEVICE_NAME_UNITS 249u
#define LEAPI_UUID_TYPE_16 0u
#define LEAPI_UUID_TYPE_128 1u

/* ---- Records ----------------------------------------------------------- */

#pragma pack(push, 1)

typedef struct LeUuid {
    uint8_t type;      /* LEAPI_UUID_TYPE_16: value[0..1] hold the UUID, low byte first */
    uint8_t value[16]; /* otherwise all 16 bytes */
} LeUuid;

typedef struct LeDeviceRecord {
    uint8_t address[6];        /*   0 */
    uint32_t advertisingFlags; /*   6: 0 or 2 for a connectable advertiser */
    uint32_t deviceMode;       /*  10: 1 for an LE device */
    uint8_t reserved14[2];     /*  14 */
    uint8_t majorClass;        /*  16 */
    uint8_t minorClass;        /*  17: minor class in bits 2-7 */
    uint16_t name[249];        /*  18: UTF-16, NUL-terminated unless full */
    uint8_t reserved516;       /* 516 */
    int8_t rssi;               /* 517: dBm */
    uint8_t reserved518[7];    /* 518 */
    uint8_t connectable;       /* 525: non-zero when the device accepts sessions */
    uint8_t reserved526[1054]; /* 526 */
} LeDeviceRecord;

typedef struct LeServiceRecord {
    LeUuid uuid;
    uint16_t firstHandle;
    uint16_t lastHandle;
} LeServiceRecord;

typedef struct LeCharacteristicRecord {
    LeUuid uuid;
    uint8_t properties; /* LEAPI_PROP_* */
    uint16_t valueHandle;
    uint16_t lastHandle;
} LeCharacteristicRecord;

typedef struct LeDescriptorRecord {
    LeUuid uuid;
    uint16_t handle;
} LeDescriptorRecord;

typedef struct CharacteristicValue {
    uint16_t handle;
    uint16_t length; /* valid bytes in data, at most LEAPI_MAX_VALUE_LENGTH */
    uint8_t data[512];
} CharacteristicValue;

/* LEAPI_EVENT_SESSION_ESTABLISHED data. */
typedef struct LeSessionEstablishedEvent {
    uint64_t session;
    uint16_t extra;
} LeSessionEstablishedEvent;

/* LEAPI_EVENT_SESSION_CLOSED data. */
typedef struct LeSessionClosedEvent {
    uint64_t session;
} LeSessionClosedEvent;

/* LEAPI_EVENT_CHARACTERISTIC_VALUE data: this header, then `length` bytes. */
typedef struct LeValueEventHeader {
    uint64_t session;
    uint8_t flag; /* LEAPI_VALUE_FLAG_* */
    uint16_t handle;
    uint16_t length;
} LeValueEventHeader;

#pragma pack(pop)

#ifdef __cplusplus
#define LEAPI_STATIC_ASSERT static_assert
#else
#define LEAPI_STATIC_ASSERT _Static_assert
#endif
LEAPI_STATIC_ASSERT(sizeof(LeUuid) == 17, "LeUuid is 17 bytes");
LEAPI_STATIC_ASSERT(sizeof(LeDeviceRecord) == 1580, "device record is 1580 bytes");
LEAPI_STATIC_ASSERT(offsetof(LeDeviceRecord, name) == 18, "name at 18");
LEAPI_STATIC_ASSERT(offsetof(LeDeviceRecord, rssi) == 517, "rssi at 517");
LEAPI_STATIC_ASSERT(offsetof(LeDeviceRecord, connectable) == 525, "connectable at 525");
LEAPI_STATIC_ASSERT(sizeof(LeServiceRecord) == 21, "service record is 21 bytes");
LEAPI_STATIC_ASSERT(sizeof(LeCharacteristicRecord) == 22, "characteristic record is 22 bytes");
LEAPI_STATIC_ASSERT(sizeof(LeDescriptorRecord) == 19, "descriptor record is 19 bytes");
LEAPI_STATIC_ASSERT(sizeof(CharacteristicValue) == 516, "value record is 516 bytes");
LEAPI_STATIC_ASSERT(sizeof(LeSessionEstablishedEvent) == 10, "0x1030 data is 10 bytes");
LEAPI_STATIC_ASSERT(sizeof(LeValueEventHeader) == 13, "value event header is 13 bytes");

/* ---- Functions --------------------------------------------------------- */

typedef void (*LeCallback)(uint32_t event, const void* data, void* context);

LEAPI_API uint32_t LEAPI_Initialize(LeCallback callback, void* context, uint64_t* slot);
LEAPI_API uint32_t LEAPI_Uninitialize(void);

LEAPI_API uint32_t LEAPI_DevicesDiscoveryStart(uint8_t seconds, uint8_t flags, uint64_t* handle);
LEAPI_API uint32_t LEAPI_DevicesDiscoveryGetNext(uint64_t handle, LeDeviceRecord* out);
LEAPI_API uint32_t LEAPI_DevicesDiscoveryEnd(uint64_t handle);

LEAPI_API uint32_t LEAPI_GATTSessionEstablishEx(const LeDeviceRecord* device, LeCallback callback,
                                                void* context, uint32_t option, uint64_t* session,
                                                uint16_t* extra);
LEAPI_API uint32_t LEAPI_GATTSessionClose(uint64_t session);
LEAPI_API uint32_t LEAPI_GATTSessionRSSIGet(uint64_t session, int16_t* rssi);

LEAPI_API uint32_t LEAPI_ServicesDiscoveryStartByUUID(uint64_t session, const LeUuid* uuid,
                                                      uint64_t* handle, uint16_t* count);
LEAPI_API uint32_t LEAPI_ServicesDiscoveryGetNext(uint64_t handle, LeServiceRecord* out);
LEAPI_API uint32_t LEAPI_ServicesDiscoveryEnd(uint64_t handle);

LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryStartByUUID(uint64_t session, uint16_t first,
                                                             uint16_t last, const LeUuid* uuid,
                                                             uint64_t* handle, uint16_t* count);
LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryGetNext(uint64_t handle,
                                                         LeCharacteristicRecord* out);
LEAPI_API uint32_t LEAPI_CharacteristicsDiscoveryEnd(uint64_t handle);

LEAPI_API uint32_t LEAPI_CharacteristicNotificationSubscribe(uint64_t session, uint16_t valueHandle,
                                                             LeCallback callback, void* context);
LEAPI_API uint32_t LEAPI_CharacteristicIndicationSubscribe(uint64_t session, uint16_t valueHandle,
                                                           LeCallback callback, void* context);

LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryStart(uint64_t session,
                                                                 uint16_t valueHandle,
                                                                 uint16_t last, uint64_t* handle,
                                                                 uint16_t* count);
LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryGetNext(uint64_t handle,
                                                                   LeDescriptorRecord* out);
LEAPI_API uint32_t LEAPI_CharacteristicDescriptorsDiscoveryEnd(uint64_t handle);
LEAPI_API uint32_t LEAPI_CharacteristicDescriptorWrite(uint64_t session,
                                                       const CharacteristicValue* value);

LEAPI_API uint32_t LEAPI_CharacteristicReadLong(uint64_t session, uint16_t valueHandle,
                                                CharacteristicValue* out);
LEAPI_API uint32_t LEAPI_CharacteristicWriteLong(uint64_t session,
                                                 const CharacteristicValue* value);

#ifdef __cplusplus
}
#endif

#endif /* LEAPI_LEAPI_H */
