/* A compositor with the layer shell and a touchscreen seat, for what a
 * headless sway cannot do: give a touch, or never place a client's layer
 * surfaces. Every request is taken by one generic dispatcher, which makes the
 * objects a request asks for and otherwise ignores it; shared memory is
 * libwayland's own.
 *
 * Usage: layer_compositor SOCKET MODE (in XDG_RUNTIME_DIR). MODE "place"
 * configures each layer surface at 800x600; "never" never does. It prints
 * "ready" once it listens and "layer-surface" for each one made; each line
 * "touch" on its standard input puts a touch point down on every touch
 * client's latest layer surface. Built with the layer shell's protocol code
 * (wayland-scanner server-header and private-code). */
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <wayland-server.h>

#include "wlr-layer-shell-unstable-v1-server-protocol.h"

#define MAX_OBJECTS 64

static int place = 1;
static struct wl_display* display;
static struct wl_resource* touches[MAX_OBJECTS];
static struct wl_resource* surfaces[MAX_OBJECTS]; /* the wl_surface of each layer surface */
static int touch_count, surface_count;
static uint32_t serial;

static int dispatch(const void* data, void* target, uint32_t opcode,
                    const struct wl_message* message, union wl_argument* args);

static void forget(struct wl_resource* resource) {
    for (int i = 0; i < surface_count; ++i) {
        if (surfaces[i] == resource) {
            surfaces[i] = NULL;
        }
    }
    for (int i = 0; i < touch_count; ++i) {
        if (touches[i] == resource) {
            touches[i] = NULL;
        }
    }
}

static struct wl_resource* make(struct wl_client* client, const struct wl_interface* interface,
                                int version, uint32_t id) {
    struct wl_resource* made = wl_resource_create(client, interface, version, id);
    if (made) {
        wl_resource_set_dispatcher(made, dispatch, NULL, NULL, forget);
    }
    return made;
}

static int dispatch(const void* data, void* target, uint32_t opcode,
                    const struct wl_message* message, union wl_argument* args) {
    (void)data;
    (void)opcode;
    struct wl_resource* resource = target;
    struct wl_client* client = wl_resource_get_client(resource);
    int version = wl_resource_get_version(resource);
    int arg = 0;
    for (const char* c = message->signature; *c; ++c) {
        if ((*c >= '0' && *c <= '9') || *c == '?') {
            continue;
        }
        const struct wl_interface* type = message->types[arg];
        if (*c == 'h') {
            close(args[arg].h);
        } else if (*c == 'n' && type) {
            struct wl_resource* made = make(client, type, version, args[arg].n);
            if (type == &wl_touch_interface && touch_count < MAX_OBJECTS) {
                touches[touch_count++] = made;
            } else if (type == &zwlr_layer_surface_v1_interface) {
                if (surface_count < MAX_OBJECTS) {
                    surfaces[surface_count++] = (struct wl_resource*)args[arg + 1].o;
                }
                if (place) {
                    zwlr_layer_surface_v1_send_configure(made, ++serial, 800, 600);
                }
                puts("layer-surface");
                fflush(stdout);
            }
        }
        ++arg;
    }
    if (strcmp(message->name, "destroy") == 0 || strcmp(message->name, "release") == 0) {
        wl_resource_destroy(resource);
    }
    return 0;
}

static void bind_plain(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    make(client, data, (int)version, id);
}

static void bind_output(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    struct wl_resource* output = make(client, data, (int)version, id);
    wl_output_send_geometry(output, 0, 0, 300, 200, WL_OUTPUT_SUBPIXEL_UNKNOWN, "fake", "fake",
                            WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 800, 600, 60000);
    if (version >= 4) {
        wl_output_send_name(output, "FAKE-1");
    }
    if (version >= 2) {
        wl_output_send_done(output);
    }
}

static void bind_seat(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    struct wl_resource* seat = make(client, data, (int)version, id);
    wl_seat_send_capabilities(seat, WL_SEAT_CAPABILITY_TOUCH);
}

static int read_command(int fd, uint32_t mask, void* data) {
    (void)mask;
    (void)data;
    char line[64];
    ssize_t got = read(fd, line, sizeof line - 1);
    if (got <= 0) {
        wl_display_terminate(display);
        return 0;
    }
    for (int i = 0; i < touch_count; ++i) {
        if (!touches[i]) {
            continue;
        }
        for (int j = surface_count; j-- > 0;) {
            if (surfaces[j] &&
                wl_resource_get_client(surfaces[j]) == wl_resource_get_client(touches[i])) {
                wl_touch_send_down(touches[i], ++serial, 0, surfaces[j], 0, wl_fixed_from_int(100),
                                   wl_fixed_from_int(100));
                wl_touch_send_frame(touches[i]);
                wl_touch_send_up(touches[i], ++serial, 0, 0);
                wl_touch_send_frame(touches[i]);
                break;
            }
        }
    }
    wl_display_flush_clients(display);
    return 0;
}

int main(int argc, char** argv) {
    display = wl_display_create();
    if (argc != 3 || !display || wl_display_add_socket(display, argv[1]) != 0) {
        fprintf(stderr, "usage: layer_compositor SOCKET place|never (in XDG_RUNTIME_DIR)\n");
        return 2;
    }
    place = strcmp(argv[2], "place") == 0;
    wl_global_create(display, &wl_compositor_interface, 4, (void*)&wl_compositor_interface,
                     bind_plain);
    wl_display_init_shm(display);
    wl_global_create(display, &zwlr_layer_shell_v1_interface, 4,
                     (void*)&zwlr_layer_shell_v1_interface, bind_plain);
    wl_global_create(display, &wl_output_interface, 4, (void*)&wl_output_interface, bind_output);
    wl_global_create(display, &wl_seat_interface, 5, (void*)&wl_seat_interface, bind_seat);
    wl_event_loop_add_fd(wl_display_get_event_loop(display), 0, WL_EVENT_READABLE, read_command,
                         NULL);
    puts("ready");
    fflush(stdout);
    wl_display_run(display);
    return 0;
}
