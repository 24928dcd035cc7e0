// The C interface from C, against the simulated stack's default world: the
// statuses and their texts, the arguments and handles it refuses, the
// buffer-too-small path, the events (the Python package's test maps the other
// failure kinds and sees the disconnect event and the entries' fields).
//   capi_test <a library that is not the module>
#include <leapisim/leapisim.h>
#include <noxb/noxb_c.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect(int ok, const char* what) {
    if (!ok) printf("FAILED: %s (\"%s\")\n", what, noxb_last_error());
    failures += !ok;
}
// The call's status and the text it leaves (none after a success).
static int is(noxb_status got, noxb_status want, const char* text) {
    const char* error = noxb_last_error();
    return got == want && (text != NULL ? strstr(error, text) != NULL : error[0] == '\0');
}
#define CHECK(call, want, text) expect(is((call), (want), (text)), #call)
#define TRUE_THAT(cond) expect((cond), #cond)

// What the events saw; read after LeSimFlushEvents.
static struct {
    noxb_provider* provider;
    int from_phone;  // with the events' context, from Pixel 8 (the data service, an echo)
    unsigned char data[64];
    size_t data_length;
    int session_seen;           // with the events' context and a session id
    noxb_status from_event[2];  // a scan and a close tried from an event
} seen;

static void on_session(void* context, uint64_t session) {
    noxb_device_list* list = NULL;
    seen.session_seen = context == &seen && session != 0;  // checked on the host's thread
    seen.from_event[0] = noxb_scan(seen.provider, 0, &list);
    seen.from_event[1] = noxb_provider_close(seen.provider);
}
static void on_data(void* context, const char* address, const uint8_t* bytes, size_t length) {
    seen.from_phone = context == &seen && strcmp(address, "c4:3a:1f:58:20:01") == 0;
    if (length <= sizeof seen.data) memcpy(seen.data, bytes, seen.data_length = length);
}

int main(int argc, char** argv) {
    noxb_provider* p = NULL;
    noxb_device_list *older = NULL, *list = NULL, *none = NULL;  // none: refused scans
    noxb_device device;
    noxb_events events = {&seen, on_session, NULL, on_data};
    size_t count = 0, length = 0;
    uint32_t handle = 0;
    int16_t rssi = 0;
    uint8_t buffer[NOXB_MAX_VALUE_LENGTH];
    if (argc < 2) return 2;
    LeSimReset();  // discovery at once, in the default world
    LeSimLoadDefaultWorld();

    CHECK(noxb_provider_open(argv[1], NULL, &p), NOXB_MODULE_NOT_FOUND, "not the provider module");
    TRUE_THAT(p == NULL);

    CHECK(noxb_provider_open(NULL, &events, &p), NOXB_OK, NULL);
    seen.provider = p;
    CHECK(noxb_scan(p, 0, &older), NOXB_OK, NULL);
    CHECK(noxb_scan(p, 0, &list), NOXB_OK, NULL);

    // Arguments the library refuses before the module sees them: a NULL (each function checks
    // its own, as these two), a handle of the other kind, an entry past the end, a list older
    // than the last scan; closed and freed handles at the end.
    CHECK(noxb_device_list_get(list, 99, &device), NOXB_INVALID_ARGUMENT, "no entry 99");
    CHECK(noxb_rssi(p, older, 0, &rssi), NOXB_INVALID_ARGUMENT, "not the provider's last scan");
    CHECK(noxb_scan(p, 0, NULL), NOXB_INVALID_ARGUMENT, "list is NULL");
    CHECK(noxb_receive(p, 1, 0, NULL, 1, &length), NOXB_INVALID_ARGUMENT, "buffer is NULL");
    CHECK(noxb_scan((noxb_provider*)list, 0, &none), NOXB_INVALID_ARGUMENT, "not an open");
    CHECK(noxb_device_list_get((noxb_device_list*)p, 0, &device), NOXB_INVALID_ARGUMENT,
          "not a device list");

    // A module failure by its kind, with the stack's code until the next call (the Python
    // test maps the other kinds).
    CHECK(noxb_connect(p, list, 0, &handle), NOXB_OK, NULL);
    LeSimScript("LEAPI_GATTSessionRSSIGet", 0xEAEA0019u, 1);
    CHECK(noxb_rssi(p, list, 0, &rssi), NOXB_GENERAL_FAILURE, "general exception");
    TRUE_THAT(noxb_last_native_code() == (int32_t)0xEAEA0019u);

    CHECK(noxb_send(p, handle, (const uint8_t*)"hello", 5), NOXB_OK, NULL);
    TRUE_THAT(noxb_last_native_code() == 0);

    // Events, which may not call the library, and the echo's notification; a receive would
    // empty the notification buffer: take them first.
    LeSimFlushEvents();
    TRUE_THAT(seen.session_seen && seen.from_event[0] == NOXB_INVALID_ARGUMENT &&
              seen.from_event[1] == NOXB_INVALID_ARGUMENT && seen.from_phone &&
              seen.data_length == 5 && memcmp(seen.data, "hello", 5) == 0);

    // Too small a buffer loses nothing; an empty read is no value.
    CHECK(noxb_receive(p, handle, 1000, buffer, 2, &length), NOXB_BUFFER_TOO_SMALL, "5 bytes");
    TRUE_THAT(length == 5);
    CHECK(noxb_receive(p, handle, 0, NULL, 0, &length), NOXB_BUFFER_TOO_SMALL, "kept");
    CHECK(noxb_receive(p, handle, 0, buffer, sizeof buffer, &length), NOXB_OK, NULL);
    TRUE_THAT(length == 5 && memcmp(buffer, "hello", 5) == 0);
    CHECK(noxb_receive(p, handle, 0, buffer, sizeof buffer, &length), NOXB_OK, NULL);
    TRUE_THAT(length == 0);

    memset(buffer, 'x', sizeof buffer);
    CHECK(noxb_send(p, handle, buffer, sizeof buffer + 100), NOXB_OK, NULL);  // cut to 512
    CHECK(noxb_receive(p, handle, 1000, buffer, sizeof buffer, &length), NOXB_OK, NULL);
    TRUE_THAT(length == NOXB_MAX_VALUE_LENGTH);

    // A list outlives its provider; freed and closed handles are refused.
    CHECK(noxb_device_list_free(older), NOXB_OK, NULL);
    CHECK(noxb_provider_close(p), NOXB_OK, NULL);
    CHECK(noxb_device_list_count(list, &count), NOXB_OK, NULL);
    CHECK(noxb_device_list_free(list), NOXB_OK, NULL);
    CHECK(noxb_device_list_free(list), NOXB_INVALID_ARGUMENT, "not a device list");
    CHECK(noxb_provider_close(p), NOXB_INVALID_ARGUMENT, "not an open provider");
    printf("capi: %s\n", failures == 0 ? "all checks passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
