/* noxblegatt's C interface: the provider module for hosts written in C, or in
 * any language that reaches native code through C (Python's ctypes, C#'s
 * P/Invoke, Rust, Go). The library loads the module as a C++ host does and
 * keeps every C++ type and exception on its own side.
 *
 * Every call returns a status; on failure noxb_last_error() tells why (the
 * module's exception text, or why an argument was refused) and
 * noxb_last_native_code() the LE stack's code behind a general failure. Both
 * are kept per thread. Handles are opaque. A provider may be used from several
 * threads; its operations wait for one another as the module's lock decides. */
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

/* The failure kinds of the module's exceptions keep their ErrorType values. */
typedef enum noxb_status {
    NOXB_OK = 0,
    NOXB_CONNECTION_FAILED = 5,
    NOXB_SERVICE_NOT_FOUND = 9,
    NOXB_GENERAL_FAILURE = 18,
    NOXB_INVALID_ARGUMENT = 100,
    NOXB_MODULE_NOT_FOUND = 101,
    NOXB_BUFFER_TOO_SMALL = 102
} noxb_status;

typedef struct noxb_provider noxb_provider;
typedef struct noxb_device_list noxb_device_list;

/* One entry of a scan. The texts are UTF-8 and belong to the list. */
typedef struct noxb_device {
    const char* name;
    const char* address; /* "xx:xx:xx:xx:xx:xx", lower-case hex */
    int first_pass;      /* reported by the scan's first (live) pass */
    int connectable;
} noxb_device;

/* Events, called on the LE stack's threads (never on the thread of a call),
 * possibly while a host thread is inside an operation. Return quickly and do
 * not call the provider from them. Any member may be NULL. */
typedef struct noxb_events {
    void* context; /* handed back as the first argument of every event */
    void (*session_established)(void* context, uint64_t session);
    void (*device_disconnected)(void* context, const char* address);
    /* The notification bytes collected since the last report: each byte is
     * reported once. `bytes` is valid for the duration of the call. */
    void (*characteristic_data)(void* context, const char* address, const uint8_t* bytes,
                                size_t length);
} noxb_events;

/* Why the last failing call of this thread failed ("" after a success). */
NOXB_C_API const char* noxb_last_error(void);
/* The stack code behind this thread's last general failure, else 0. */
NOXB_C_API int32_t noxb_last_native_code(void);

/* Loads the module (`module_path`, or NULL for the module beside this
 * library) and makes a provider; `events` (may be NULL) is copied. */
NOXB_C_API noxb_status noxb_provider_open(const char* module_path, const noxb_events* events,
                                          noxb_provider** provider);
/* Destroys the provider; its lists stay valid until freed. NULL is ignored.
 * Not from an event. */
NOXB_C_API void noxb_provider_close(noxb_provider* provider);

/* Scans for `duration_ms` and returns a new list, to be freed by the caller.
 * Connecting and signal strength take entries of the provider's last scan. */
NOXB_C_API noxb_status noxb_scan(noxb_provider* provider, int64_t duration_ms,
                                 noxb_device_list** list);
NOXB_C_API size_t noxb_device_list_count(const noxb_device_list* list);
NOXB_C_API noxb_status noxb_device_list_get(const noxb_device_list* list, size_t index,
                                            noxb_device* device);
/* Frees the list; NULL and a list already freed are ignored. */
NOXB_C_API void noxb_device_list_free(noxb_device_list* list);

/* Opens a session with entry `index` of `list`; `handle` gets the service
 * handle for the transfers. */
NOXB_C_API noxb_status noxb_connect(noxb_provider* provider, const noxb_device_list* list,
                                    size_t index, uint32_t* handle);
NOXB_C_API noxb_status noxb_disconnect(noxb_provider* provider, uint32_t handle);
/* Writes at most 512 bytes (the rest is dropped, as the module does). */
NOXB_C_API noxb_status noxb_send(noxb_provider* provider, uint32_t handle, const uint8_t* data,
                                 size_t length);
/* Reads a value, waiting up to `timeout_ms`; `length` gets its size (0 after
 * a time-out). When `capacity` is smaller, the call answers
 * NOXB_BUFFER_TOO_SMALL with the size needed in `length` and keeps the bytes:
 * the next call on the handle returns them without reading again. */
NOXB_C_API noxb_status noxb_receive(noxb_provider* provider, uint32_t handle, int64_t timeout_ms,
                                    uint8_t* buffer, size_t capacity, size_t* length);
/* The signal strength of entry `index` of `list`, in dBm. */
NOXB_C_API noxb_status noxb_rssi(noxb_provider* provider, const noxb_device_list* list,
                                 size_t index, int16_t* rssi);

#ifdef __cplusplus
}
#endif

#endif /* NOXB_NOXB_C_H */
