/* A compositor with the layer shell whose outputs the test drives, for what
 * sway cannot show: wl_output at version 3 (no names; the names come from
 * xdg-output), layer-surface configures of 0 x 0 (the client picks its size),
 * covers closed while their output stays, and an output that goes and comes
 * back under its name. No viewporter and no seat.
 *
 * Usage: layer_compositor SOCKET WIDTHxHEIGHT... (one output FAKE-1, FAKE-2,
 * ... each). Prints "ready" once it listens. Reads commands on stdin, one a
 * line: "close N" sends `closed` to the layer surfaces on output N,
 * "remove N" takes output N's global away, "add N" offers it again. Prints
 * one line an event:
 *   layer N               a layer surface was made on output N
 *   shown N WxH LIT       a layer surface on output N showed a WxH buffer
 *                         with LIT pixels neither black nor clear
 * and "ok" after each command. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wayland-server.h>

#include "wlr-layer-shell-unstable-v1-server-protocol.h"
#include "xdg-output-unstable-v1-server-protocol.h"

#define MAX_OUTPUTS 8

struct output {
    int number, width, height;
    char name[16];
    struct wl_global* global;
    struct wl_list resources; /* wl_output resources */
};

struct surface {
    struct wl_resource *resource, *layer, *buffer;
    struct output* output;
    int committed;
    struct wl_list link; /* in `surfaces` */
};

static struct wl_display* display;
static struct output outputs[MAX_OUTPUTS];
static int output_count;
static uint32_t next_serial = 1;
static struct wl_list surfaces;

static void destroy_request(struct wl_client* client, struct wl_resource* resource) {
    (void)client;
    wl_resource_destroy(resource);
}

static void ignore_resource(struct wl_client* c, struct wl_resource* r, struct wl_resource* o) {
    (void)c, (void)r, (void)o;
}

/* wl_region: nothing is kept. */
static void region_rect(struct wl_client* c, struct wl_resource* r, int32_t x, int32_t y, int32_t w,
                        int32_t h) {
    (void)c, (void)r, (void)x, (void)y, (void)w, (void)h;
}
static const struct wl_region_interface region_impl = {destroy_request, region_rect, region_rect};

/* wl_surface */
static long lit_pixels(struct wl_shm_buffer* shm) {
    const int width = wl_shm_buffer_get_width(shm), height = wl_shm_buffer_get_height(shm);
    const int stride = wl_shm_buffer_get_stride(shm);
    const int alpha = wl_shm_buffer_get_format(shm) == WL_SHM_FORMAT_ARGB8888;
    long lit = 0;
    wl_shm_buffer_begin_access(shm);
    const unsigned char* data = wl_shm_buffer_get_data(shm);
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = (const uint32_t*)(data + (size_t)y * stride);
        for (int x = 0; x < width; ++x) {
            lit += (row[x] & (alpha ? 0xFFFFFFFFu : 0xFFFFFFu)) != 0;
        }
    }
    wl_shm_buffer_end_access(shm);
    return lit;
}

static void surface_attach(struct wl_client* c, struct wl_resource* r, struct wl_resource* buffer,
                           int32_t x, int32_t y) {
    (void)c, (void)x, (void)y;
    ((struct surface*)wl_resource_get_user_data(r))->buffer = buffer;
}
static void surface_damage(struct wl_client* c, struct wl_resource* r, int32_t x, int32_t y,
                           int32_t w, int32_t h) {
    (void)c, (void)r, (void)x, (void)y, (void)w, (void)h;
}
static void surface_frame(struct wl_client* client, struct wl_resource* r, uint32_t id) {
    (void)r; /* never called back: the saver does not wait for frames */
    wl_resource_create(client, &wl_callback_interface, 1, id);
}
static void surface_int(struct wl_client* c, struct wl_resource* r, int32_t value) {
    (void)c, (void)r, (void)value;
}
static void surface_commit(struct wl_client* client, struct wl_resource* r) {
    (void)client;
    struct surface* surface = wl_resource_get_user_data(r);
    if (surface->layer && !surface->committed) {
        /* Anchored to every edge, but the size is left to the client. */
        zwlr_layer_surface_v1_send_configure(surface->layer, next_serial++, 0, 0);
    }
    surface->committed = 1;
    struct wl_shm_buffer* shm = surface->buffer ? wl_shm_buffer_get(surface->buffer) : NULL;
    if (shm && surface->output) {
        printf("shown %d %dx%d %ld\n", surface->output->number, wl_shm_buffer_get_width(shm),
               wl_shm_buffer_get_height(shm), lit_pixels(shm));
        fflush(stdout);
        wl_buffer_send_release(surface->buffer); /* copied, as most compositors do */
    }
    surface->buffer = NULL;
}
static const struct wl_surface_interface surface_impl = {
    destroy_request, surface_attach,  surface_damage, surface_frame,
    ignore_resource, ignore_resource, surface_commit, surface_int,
    surface_int,     surface_damage,  NULL, /* offset: version 5, not offered */
};

static void free_surface(struct wl_resource* resource) {
    struct surface* surface = wl_resource_get_user_data(resource);
    if (surface->layer) {
        wl_resource_set_user_data(surface->layer, NULL);
    }
    wl_list_remove(&surface->link);
    free(surface);
}

/* wl_compositor */
static void create_surface(struct wl_client* client, struct wl_resource* r, uint32_t id) {
    struct surface* surface = calloc(1, sizeof *surface);
    surface->resource =
        wl_resource_create(client, &wl_surface_interface, wl_resource_get_version(r), id);
    wl_resource_set_implementation(surface->resource, &surface_impl, surface, free_surface);
    wl_list_insert(&surfaces, &surface->link);
}
static void create_region(struct wl_client* client, struct wl_resource* r, uint32_t id) {
    (void)r;
    struct wl_resource* region = wl_resource_create(client, &wl_region_interface, 1, id);
    wl_resource_set_implementation(region, &region_impl, NULL, NULL);
}
static const struct wl_compositor_interface compositor_impl = {create_surface, create_region};
static void bind_compositor(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r = wl_resource_create(client, &wl_compositor_interface, (int)version, id);
    wl_resource_set_implementation(r, &compositor_impl, NULL, NULL);
}

/* zwlr_layer_surface_v1: the surface's layer resource's user data is the surface. */
static void layer_uint2(struct wl_client* c, struct wl_resource* r, uint32_t a, uint32_t b) {
    (void)c, (void)r, (void)a, (void)b;
}
static void layer_uint(struct wl_client* c, struct wl_resource* r, uint32_t a) {
    (void)c, (void)r, (void)a;
}
static void layer_int(struct wl_client* c, struct wl_resource* r, int32_t a) {
    (void)c, (void)r, (void)a;
}
static void layer_margin(struct wl_client* c, struct wl_resource* r, int32_t a, int32_t b,
                         int32_t d, int32_t e) {
    (void)c, (void)r, (void)a, (void)b, (void)d, (void)e;
}
static const struct zwlr_layer_surface_v1_interface layer_impl = {
    layer_uint2,     layer_uint, layer_int,       layer_margin, layer_uint,
    ignore_resource, layer_uint, destroy_request, layer_uint,
};
static void free_layer(struct wl_resource* resource) {
    struct surface* surface = wl_resource_get_user_data(resource);
    if (surface) {
        surface->layer = NULL;
        surface->output = NULL;
    }
}

static void get_layer_surface(struct wl_client* client, struct wl_resource* shell, uint32_t id,
                              struct wl_resource* surface_resource, struct wl_resource* output,
                              uint32_t layer, const char* scope) {
    (void)layer, (void)scope;
    struct surface* surface = wl_resource_get_user_data(surface_resource);
    surface->layer = wl_resource_create(client, &zwlr_layer_surface_v1_interface,
                                        wl_resource_get_version(shell), id);
    wl_resource_set_implementation(surface->layer, &layer_impl, surface, free_layer);
    surface->output = output ? wl_resource_get_user_data(output) : &outputs[0];
    surface->committed = 0;
    printf("layer %d\n", surface->output ? surface->output->number : 0);
    fflush(stdout);
}
static const struct zwlr_layer_shell_v1_interface shell_impl = {get_layer_surface, destroy_request};
static void bind_shell(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r =
        wl_resource_create(client, &zwlr_layer_shell_v1_interface, (int)version, id);
    wl_resource_set_implementation(r, &shell_impl, NULL, NULL);
}

/* wl_output at version 3: geometry, mode, scale, done; no name. */
static const struct wl_output_interface output_impl = {destroy_request};
static void unlink_output(struct wl_resource* resource) {
    wl_list_remove(wl_resource_get_link(resource));
}
static void bind_output(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    struct output* output = data;
    struct wl_resource* r = wl_resource_create(client, &wl_output_interface, (int)version, id);
    wl_resource_set_implementation(r, &output_impl, output, unlink_output);
    wl_list_insert(&output->resources, wl_resource_get_link(r));
    int x = 0;
    for (int i = 0; i < output->number - 1; ++i) {
        x += outputs[i].width;
    }
    wl_output_send_geometry(r, x, 0, 300, 200, WL_OUTPUT_SUBPIXEL_UNKNOWN, "fake", "fake",
                            WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(r, WL_OUTPUT_MODE_CURRENT, output->width, output->height, 60000);
    if (version >= 2) {
        wl_output_send_scale(r, 1);
        wl_output_send_done(r);
    }
}

/* xdg-output: the names and logical sizes, ended by wl_output's done at version 3. */
static const struct zxdg_output_v1_interface xdg_output_impl = {destroy_request};
static void get_xdg_output(struct wl_client* client, struct wl_resource* manager, uint32_t id,
                           struct wl_resource* output_resource) {
    const int version = wl_resource_get_version(manager);
    struct output* output = wl_resource_get_user_data(output_resource);
    struct wl_resource* r = wl_resource_create(client, &zxdg_output_v1_interface, version, id);
    wl_resource_set_implementation(r, &xdg_output_impl, NULL, NULL);
    zxdg_output_v1_send_logical_size(r, output->width, output->height);
    if (version >= 2) {
        zxdg_output_v1_send_name(r, output->name);
    }
    if (version >= 3) {
        wl_output_send_done(output_resource);
    } else {
        zxdg_output_v1_send_done(r);
    }
}
static const struct zxdg_output_manager_v1_interface xdg_manager_impl = {destroy_request,
                                                                         get_xdg_output};
static void bind_xdg_manager(struct wl_client* client, void* data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource* r =
        wl_resource_create(client, &zxdg_output_manager_v1_interface, (int)version, id);
    wl_resource_set_implementation(r, &xdg_manager_impl, NULL, NULL);
}

/* The test's commands. */
static void close_layers(struct output* output) {
    struct surface* surface;
    wl_list_for_each(surface, &surfaces, link) {
        if (surface->layer && surface->output == output) {
            zwlr_layer_surface_v1_send_closed(surface->layer);
            surface->output = NULL; /* what it shows from now on is nowhere */
        }
    }
}

static int on_command(int fd, uint32_t mask, void* data) {
    (void)mask, (void)data;
    char line[64];
    ssize_t got = read(fd, line, sizeof line - 1);
    if (got <= 0) {
        wl_display_terminate(display);
        return 0;
    }
    line[got] = '\0';
    char verb[16];
    int number = 0;
    if (sscanf(line, "%15s %d", verb, &number) == 2 && number >= 1 && number <= output_count) {
        struct output* output = &outputs[number - 1];
        if (strcmp(verb, "close") == 0 || strcmp(verb, "remove") == 0) {
            close_layers(output);
        }
        if (strcmp(verb, "remove") == 0 && output->global) {
            wl_global_destroy(output->global);
            output->global = NULL;
        } else if (strcmp(verb, "add") == 0 && !output->global) {
            output->global =
                wl_global_create(display, &wl_output_interface, 3, output, bind_output);
        }
    }
    puts("ok");
    fflush(stdout);
    return 0;
}

int main(int argc, char** argv) {
    display = wl_display_create();
    wl_list_init(&surfaces);
    if (argc < 3 || argc - 2 > MAX_OUTPUTS || !display ||
        wl_display_add_socket(display, argv[1]) != 0) {
        fprintf(stderr, "usage: layer_compositor SOCKET WIDTHxHEIGHT...\n");
        return 2;
    }
    wl_global_create(display, &wl_compositor_interface, 4, NULL, bind_compositor);
    wl_display_init_shm(display);
    wl_global_create(display, &zwlr_layer_shell_v1_interface, 4, NULL, bind_shell);
    wl_global_create(display, &zxdg_output_manager_v1_interface, 3, NULL, bind_xdg_manager);
    for (int i = 2; i < argc; ++i) {
        struct output* output = &outputs[output_count++];
        output->number = output_count;
        if (sscanf(argv[i], "%dx%d", &output->width, &output->height) != 2) {
            return 2;
        }
        snprintf(output->name, sizeof output->name, "FAKE-%d", output->number);
        wl_list_init(&output->resources);
        output->global = wl_global_create(display, &wl_output_interface, 3, output, bind_output);
    }
    wl_event_loop_add_fd(wl_display_get_event_loop(display), STDIN_FILENO, WL_EVENT_READABLE,
                         on_command, NULL);
    puts("ready");
    fflush(stdout);
    wl_display_run(display);
    wl_display_destroy(display);
    return 0;
}
