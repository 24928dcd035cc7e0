/* Control API of the simulated LE stack.
 *
 * The simulated stack implements every LEAPI_ function of <leapi/leapi.h>
 * against a world of devices held in memory. Tests and tools use the
 * functions below to shape that world, script failures, raise events and
 * read back what the stack was asked to do. The provider module never calls
 * them.
 *
 * Until the first control call the stack serves the built-in default world
 * (LeSimLoadDefaultWorld). All functions are thread-safe. Functions that wait
 * for callbacks (LeSimFlushEvents, LEAPI_GATTSessionClose, LEAPI_Uninitialize)
 * must not be called from inside a stack callback. */
#ifndef LEAPISIM_LEAPISIM_H
#define LEAPISIM_LEAPISIM_H

#include <leapi/leapi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- World ------------------------------------------------------------- */

/* Empty world, stack uninitialised, no sessions, no scripts, empty journal,
 * instant discovery. Pending callbacks are dropped; callbacks already running
 * are waited for. */
LEAPI_API void LeSimReset(void);

/* Adds the built-in phones and tablets to the world (see leapisim/world.cpp
 * for the list). Does not remove devices already there. */
LEAPI_API void LeSimLoadDefaultWorld(void);

/* How long a discovery run takes: `msPerSecond` milliseconds for every second
 * asked for (1000 = real time, 0 = instant). */
LEAPI_API void LeSimSetDiscoveryPace(uint32_t msPerSecond);

/* Fills `out` with a device record: zero bytes except the given fields.
 * `name` is UTF-8 (NULL or "" for no name); a connectable record gets
 * advertisingFlags 0, deviceMode 1 and connectable 1, a non-connectable one
 * advertisingFlags 0x10, deviceMode 1 and connectable 0. */
LEAPI_API void LeSimMakeDeviceRecord(LeDeviceRecord* out, const uint8_t address[6],
                                     const char* name, uint8_t majorClass, uint8_t minorClass,
                                     int8_t rssi, int connectable);

/* Adds a device; the record is reported by discovery byte for byte. A run
 * with flags F reports the device when (F & discoveryFlags) != 0; pass
 * LEAPI_DISCOVERY_LIVE | LEAPI_DISCOVERY_KNOWN to be seen by every run.
 * Returns the device id (1, 2, ...); 0 when `record` is NULL. */
LEAPI_API uint32_t LeSimAddDevice(const LeDeviceRecord* record, uint8_t discoveryFlags);

/* Removes a device from discovery and refuses new sessions with it;
 * open sessions stay until closed or dropped. Returns 0 or an error code. */
LEAPI_API uint32_t LeSimRemoveDevice(uint32_t device);

/* Changes what GATTSessionRSSIGet reports for the device (the record keeps
 * its scan-time value). Returns 0 or an error code. */
LEAPI_API uint32_t LeSimSetDeviceRssi(uint32_t device, int16_t rssi);

/* Number of devices ever added since the last reset (removed ones
 * included); their ids are 1 to that number. */
LEAPI_API uint32_t LeSimDeviceCount(void);

/* Copies a device's record and discovery flags (either pointer may be NULL);
 * `removed` tells whether it was removed. Returns 0 or
 * LEAPI_ERROR_DEVICE_NOT_FOUND. */
LEAPI_API uint32_t LeSimGetDevice(uint32_t device, LeDeviceRecord* record, uint8_t* discoveryFlags,
                                  int* removed);

/* ---- GATT database ----------------------------------------------------- */

/* Attribute handles are given out per device in the order things are added,
 * starting at 1: a service takes one handle, a characteristic two (its
 * declaration, then its value), a descriptor one. Characteristics and
 * descriptors belong to the last service added; adding to an earlier one
 * fails. */

/* What a characteristic does with a long write. */
enum LeSimValueBehaviour {
    /* Reads return the last value written (length 0 before any write). */
    LESIM_VALUE_STORE = 0,
    /* Echo: every write is queued for reading back (each read takes the
     * oldest; length 0 when none is queued) and sent as a notification and/or
     * indication, as the client configuration descriptor asks. */
    LESIM_VALUE_ECHO = 1
};

/* Returns the service's first handle, 0 on failure. */
LEAPI_API uint16_t LeSimAddService(uint32_t device, const LeUuid* uuid);
/* `properties`: LEAPI_PROP_*. Returns the value handle, 0 on failure. */
LEAPI_API uint16_t LeSimAddCharacteristic(uint32_t device, const LeUuid* uuid, uint8_t properties,
                                          enum LeSimValueBehaviour behaviour);
/* Adds a descriptor to the last characteristic added. Returns its handle,
 * 0 on failure. */
LEAPI_API uint16_t LeSimAddDescriptor(uint32_t device, const LeUuid* uuid);

/* Queues a value to be returned by the next read of the characteristic
 * (as if the device had produced it). Returns 0 or an error code. */
LEAPI_API uint32_t LeSimQueueReadValue(uint32_t device, uint16_t valueHandle, const void* bytes,
                                       uint16_t length);

/* The client configuration value last written to the descriptor (0 if never). */
LEAPI_API uint16_t LeSimDescriptorValue(uint32_t device, uint16_t descriptorHandle);

/* The value last written to a characteristic; returns its length and copies
 * at most `capacity` bytes. */
LEAPI_API uint32_t LeSimLastWrittenValue(uint32_t device, uint16_t valueHandle, void* bytes,
                                         uint32_t capacity);

/* ---- Sessions and events ------------------------------------------------ */

/* The open session with a device, LEAPI_NO_SESSION when none. */
LEAPI_API uint64_t LeSimSessionOf(uint32_t device);
/* Number of open sessions. */
LEAPI_API uint32_t LeSimSessionCount(void);
/* Number of subscriptions (of both kinds) held on a session. */
LEAPI_API uint32_t LeSimSubscriptionCount(uint64_t session);

/* The link to the device is lost: the session ends in the stack and its
 * callback receives LEAPI_EVENT_SESSION_DISCONNECTED. Returns 0 or
 * LEAPI_ERROR_INVALID_SESSION_HANDLE. */
LEAPI_API uint32_t LeSimDropSession(uint64_t session);

/* Delivers `event` with a copy of `data` to the session callback of
 * `session`, open or recently dropped. */
LEAPI_API uint32_t LeSimRaiseDeviceEvent(uint64_t session, uint32_t event, const void* data,
                                         uint32_t length);

/* Delivers LEAPI_EVENT_CHARACTERISTIC_VALUE to every subscription of
 * `session` on `valueHandle` (kind: 1 notifications, 2 indications, 3 both),
 * with a record made of the session, flag, handle and bytes. Returns the
 * number of callbacks queued. */
LEAPI_API uint32_t LeSimRaiseValueEvent(uint64_t session, uint16_t valueHandle, uint32_t kind,
                                        uint8_t flag, const void* bytes, uint16_t length);

/* Delivers `event` with a copy of `record` (any bytes, any length) to every
 * subscription of `session` on `valueHandle`, of either kind. Returns the
 * number of callbacks queued. */
LEAPI_API uint32_t LeSimRaiseRawValueEvent(uint64_t session, uint16_t valueHandle, uint32_t event,
                                           const void* record, uint32_t length);

/* Delivers `event` with a copy of `data` to the callback given to
 * LEAPI_Initialize. Returns 0 or LEAPI_ERROR_NOT_INITIALIZED. */
LEAPI_API uint32_t LeSimRaiseStackEvent(uint32_t event, const void* data, uint32_t length);

/* Waits until every callback queued so far has returned; with pumped
 * delivery, runs them on the calling thread first. */
LEAPI_API void LeSimFlushEvents(void);

/* Pumped delivery (`on` non-zero): callbacks are no longer delivered on the
 * stack's thread but wait, in the order they were queued, until
 * LeSimPumpEvents or LeSimFlushEvents runs them on the calling thread, so
 * that a run's interleaving of calls and callbacks is the caller's to decide
 * and to repeat. Off by default; kept across LeSimReset. Switching it off
 * delivers what waits on the stack's thread again. */
LEAPI_API void LeSimSetPumpedDelivery(int on);

/* With pumped delivery: runs up to `most` waiting callbacks, oldest first,
 * on the calling thread, and returns how many ran (0 without pumped
 * delivery). */
LEAPI_API uint32_t LeSimPumpEvents(uint32_t most);

/* Number of callbacks delivered since the last reset. */
LEAPI_API uint64_t LeSimDeliveredEventCount(void);

/* ---- Scripted answers -------------------------------------------------- */

/* The next `count` calls of the LEAPI_ function named `function` (for
 * example "LEAPI_CharacteristicWriteLong") answer `code` without doing
 * anything else; code 0 means "behave normally" for those calls. Scripts for
 * one function queue up in the order given. Returns 0, or
 * LEAPI_ERROR_INVALID_PARAMETER for an unknown name. */
LEAPI_API uint32_t LeSimScript(const char* function, uint32_t code, uint32_t count);

/* Drops every script. */
LEAPI_API void LeSimClearScripts(void);

/* ---- Journal ----------------------------------------------------------- */

/* One call received by the stack. Arguments are kept in the order of the
 * function's parameters: numbers as they came, pointers as addresses, and the
 * first record pointed to (device record, UUID or value record; for
 * CharacteristicValue only handle, length and `length` data bytes) copied into
 * `data`. Out-parameters are recorded as the values the call left there. */
typedef struct LeSimCall {
    char function[64];
    uint32_t result;
    uint32_t argCount;
    uint64_t args[6];
    uint32_t dataLength;
    uint8_t data[1580];
} LeSimCall;

LEAPI_API uint32_t LeSimJournalCount(void);
/* Copies entry `index` (0 = oldest). Returns 0, or LEAPI_ERROR_NO_MORE_ITEMS. */
LEAPI_API uint32_t LeSimJournalGet(uint32_t index, LeSimCall* out);
LEAPI_API void LeSimJournalClear(void);
/* Keeps no journal while off (for long stress runs); on by default. */
LEAPI_API void LeSimJournalEnable(int on);

#ifdef __cplusplus
}
#endif

#endif /* LEAPISIM_LEAPISIM_H */
