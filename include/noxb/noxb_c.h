/* noxblegatt's C interface: the provider module for hosts written in C, or in
 * any language that reaches native code through C (Python's ctypes, C#'s
 * P/Invoke, Rust, Go). The library (noxblegatt_c.dll, libnoxblegatt_c.so)
 * loads the module at run time as a C++ host does and keeps every C++ type
 * and exception on its own side. C99.
 *
 * Every call returns a status; on failure noxb_last_error() tells why (the
 * module's exception text, or why an argument was refused) and
 * noxb_last_native_code() the LE stack's code behind a general failure. Both
 * are kept per thread and describe the thread's last call.
 *
 * Handles are opaque. A provider may be used from several threads; its
 * operations wait for one another as the module's operation lock decides
 * (docs/host-guide.md), and noxb_provider_close waits for the calls still
 * running. Events arrive on the LE stack's threads: see noxb_events. */
#ifndef NOXB_NOXB_C_H
#define NOXB_NOXB_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(NOXB_C_BUILDING)
#define NOXB_C_API __declspec(dllexport)
#else
#define NOXB_C_API __declspec(dllimport)
#endif
#else
#define NOXB_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The failure kinds of the module's exceptions keep their ErrorType() values. */
typedef enum noxb_status {
    NOXB_OK = 0,
    NOXB_CONNECTION_FAILED = 5,  /* ConnectionFailedException */
    NOXB_SERVICE_NOT_FOUND = 9,  /* ProviderServiceNotFoundException */
    NOXB_GENERAL_FAILURE = 18,   /* ProviderGeneralException: see noxb_last_native_code */
    NOXB_INVALID_ARGUMENT = 100, /* refused by this library; the module was not called */
    NOXB_MODULE_NOT_FOUND = 101, /* the module could not be loaded */
    NOXB_BUFFER_TOO_SMALL = 102  /* noxb_receive: the value is kept for the next call */
} noxb_status;

/* The most bytes a send writes and a receive returns. */
#define NOXB_MAX_VALUE_LENGTH 512

typedef struct noxb_provider noxb_provider;
typedef struct noxb_device_list noxb_device_list;

/* One entry of a scan. The texts are UTF-8 and belong to the list. */
typedef struct noxb_device {
    const char* name;
    const char* address; /* "xx:xx:xx:xx:xx:xx", lower-case hex */
    int first_pass;      /* found by the scan's first pass (else by the second) */
    int connectable;
} noxb_device;

/* Events, called on the LE stack's threads (never on the thread of a call),
 * possibly while a host thread is inside an operation, and possibly at the
 * same time as each other. Return quickly: the stack's further deliveries,
 * and a disconnect, wait for a running event. A call of this library from
 * inside an event is refused (NOXB_INVALID_ARGUMENT): hand the work to a host
 * thread instead. Any member may be NULL. */
typedef struct noxb_events {
    void* context; /* handed back as the first argument of every event */
    /* A session was opened: after a connect, and after each reopening while
     * the module recovers a session. */
    void (*session_established)(void* context, uint64_t session);
    /* The device ended the session on its side (the link was lost). */
    void (*device_disconnected)(void* context, const char* address);
    /* Notification or indication bytes collected since the last report, each
     * byte reported once; `bytes` is valid for the duration of the call. */
    void (*characteristic_data)(void* context, const char* address, const uint8_t* bytes,
                                size_t length);
} noxb_events;

/* Why this thread's last call failed ("" after a success). Valid until the
 * thread's next call. */
NOXB_C_API const char* noxb_last_error(void);
/* The LE stack's code behind this thread's last NOXB_GENERAL_FAILURE, else 0. */
NOXB_C_API int32_t noxb_last_native_code(void);

/* Loads the module (`module_path`, UTF-8, or NULL for the module beside this
 * library) and makes a provider, with events when `events` is not NULL (the
 * structure is copied). */
NOXB_C_API noxb_status noxb_provider_open(const char* module_path, const noxb_events* events,
                                          noxb_provider** provider);
/* Waits for the provider's running calls, destroys it and unloads the module;
 * no event comes after it returns. Lists stay valid until freed. Not from an
 * event. */
NOXB_C_API noxb_status noxb_provider_close(noxb_provider* provider);

/* Scans for `duration_ms` (one pass of about a second, then a second pass of
 * duration_ms / 1000 s when it is 1000 or more) into a new list, which the
 * caller frees. Connecting and signal strength take entries of the
 * provider's last scan. Not while another call of the provider runs. */
NOXB_C_API noxb_status noxb_scan(noxb_provider* provider, int64_t duration_ms,
                                 noxb_device_list** list);
NOXB_C_API noxb_status noxb_device_list_count(const noxb_device_list* list, size_t* count);
NOXB_C_API noxb_status noxb_device_list_get(const noxb_device_list* list, size_t index,
                                            noxb_device* device);
/* Frees the list; a list already freed is refused. */
NOXB_C_API noxb_status noxb_device_list_free(noxb_device_list* list);

/* Opens a session with entry `index` of `list`, which must be the provider's
 * last scan; `handle` gets the service handle for the transfers. */
NOXB_C_API noxb_status noxb_connect(noxb_provider* provider, const noxb_device_list* list,
                                    size_t index, uint32_t* handle);
/* Closes the session; a handle that is not connected is harmless. */
NOXB_C_API noxb_status noxb_disconnect(noxb_provider* provider, uint32_t handle);
/* Writes the bytes in one long write: at most NOXB_MAX_VALUE_LENGTH, the rest
 * is dropped, as the module does. `data` may be NULL when `length` is 0. */
NOXB_C_API noxb_status noxb_send(noxb_provider* provider, uint32_t handle, const uint8_t* data,
                                 size_t length);
/* Reads a value, waiting up to `timeout_ms`; `length` gets its size (0 after
 * a time-out, which is no failure). When `capacity` is smaller, the call
 * answers NOXB_BUFFER_TOO_SMALL with the size needed in `length` and keeps
 * the bytes: the next receive on the handle returns them without reading.
 * `buffer` may be NULL when `capacity` is 0. */
NOXB_C_API noxb_status noxb_receive(noxb_provider* provider, uint32_t handle, int64_t timeout_ms,
                                    uint8_t* buffer, size_t capacity, size_t* length);
/* The signal strength, in dBm, of the connected device behind entry `index`
 * of `list` (the provider's last scan). */
NOXB_C_API noxb_status noxb_rssi(noxb_provider* provider, const noxb_device_list* list,
                                 size_t index, int16_t* rssi);

#ifdef __cplusplus
}
#endif

#endif /* NOXB_NOXB_C_H */
