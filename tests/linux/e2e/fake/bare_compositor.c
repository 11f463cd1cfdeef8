/* A compositor that offers what every Wayland desktop does (wl_compositor,
 * wl_shm, one wl_output) and no layer shell, as GNOME's: enough for a client
 * to look and find nothing to cover the screen with. It serves until killed.
 * Usage: bare_compositor SOCKET (in XDG_RUNTIME_DIR); prints "ready" once it
 * listens. */
#include <stdio.h>
#include <wayland-server.h>

static void bind_plain(struct wl_client *client, void *data, uint32_t version, uint32_t id) {
    const struct wl_interface *interface = data;
    /* No requests are served: a client that finds no layer shell asks none. */
    wl_resource_create(client, interface, (int)version, id);
}

static void bind_output(struct wl_client *client, void *data, uint32_t version, uint32_t id) {
    (void)data;
    struct wl_resource *output = wl_resource_create(client, &wl_output_interface, (int)version, id);
    wl_output_send_geometry(output, 0, 0, 300, 200, WL_OUTPUT_SUBPIXEL_UNKNOWN, "bare", "bare",
                            WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(output, WL_OUTPUT_MODE_CURRENT, 800, 600, 60000);
    if (version >= 4) {
        wl_output_send_name(output, "BARE-1");
    }
    if (version >= 2) {
        wl_output_send_done(output);
    }
}

int main(int argc, char **argv) {
    struct wl_display *display = wl_display_create();
    if (argc != 2 || !display || wl_display_add_socket(display, argv[1]) != 0) {
        fprintf(stderr, "usage: bare_compositor SOCKET (in XDG_RUNTIME_DIR)\n");
        return 2;
    }
    wl_global_create(display, &wl_compositor_interface, 4, (void *)&wl_compositor_interface,
                     bind_plain);
    wl_display_init_shm(display);
    wl_global_create(display, &wl_output_interface, 4, NULL, bind_output);
    puts("ready");
    fflush(stdout);
    wl_display_run(display);
    return 0;
}
