/* Lists the devices nearby through the C interface: one scan of about a
 * second, a line for each device.
 *   scan [module path]    (default: the module beside the C library) */
#include <noxb/noxb_c.h>

#include <stdio.h>

int main(int argc, char** argv) {
    noxb_provider* provider = NULL;
    noxb_device_list* list = NULL;
    size_t count = 0;
    if (noxb_provider_open(argc > 1 ? argv[1] : NULL, NULL, &provider) != NOXB_OK ||
        noxb_scan(provider, 0, &list) != NOXB_OK ||
        noxb_device_list_count(list, &count) != NOXB_OK) {
        fprintf(stderr, "scan: %s\n", noxb_last_error());
        noxb_provider_close(provider);
        return 1;
    }
    for (size_t i = 0; i < count; ++i) {
        noxb_device device;
        if (noxb_device_list_get(list, i, &device) != NOXB_OK) continue;
        printf("%-24s %s%s\n", device.name, device.address,
               device.connectable ? "" : "  (not connectable)");
    }
    noxb_device_list_free(list);
    noxb_provider_close(provider);
    return 0;
}
