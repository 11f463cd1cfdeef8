// The floor for the Wayland saver's cost: the least that a layer-shell client
// of the same shape can do. A black cover on the overlay layer over each
// output, anchored to every edge and taking the keyboard, with a buffer of the
// output's size (on shared memory it never touches); then a poll on the
// connection that wakes once a second and commits nothing.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "layer_globals.h"
#include "termination_fd.h"

namespace {

struct Cover {
    wl_shm* shm = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool shown = false;
};

void Configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
               uint32_t height) {
    auto* cover = static_cast<Cover*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    if (cover->shown || width == 0 || height == 0) {
        return;
    }
    const int stride = static_cast<int>(width) * 4;
    const int size = stride * static_cast<int>(height);
    const int fd = memfd_create("floor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) {
        return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(cover->shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(
        pool, 0, static_cast<int>(width), static_cast<int>(height), stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(cover->surface, buffer, 0, 0);
    wl_surface_damage(cover->surface, 0, 0, static_cast<int>(width), static_cast<int>(height));
    wl_surface_commit(cover->surface);
    cover->shown = true;
}

void Closed(void*, zwlr_layer_surface_v1*) {}

}  // namespace

int main() {
    const int signalFd = bench::TerminationSignalFd();

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wayland_floor: no compositor\n");
        return 1;
    }
    bench::LayerGlobals globals;
    if (!bench::BindLayerGlobals(display, globals)) {
        std::fprintf(stderr, "wayland_floor: no layer shell\n");
        return 1;
    }
    static const zwlr_layer_surface_v1_listener layerListener = {Configure, Closed};
    std::vector<Cover> covers(globals.outputs.size());
    for (std::size_t i = 0; i < covers.size(); ++i) {
        Cover& cover = covers[i];
        cover.shm = globals.shm;
        cover.surface = wl_compositor_create_surface(globals.compositor);
        cover.layer = bench::OverlayCover(globals, cover.surface, globals.outputs[i], "floor",
                                          layerListener, &cover);
    }

    for (;;) {
        while (wl_display_prepare_read(display) != 0) {
            wl_display_dispatch_pending(display);
        }
        wl_display_flush(display);
        pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {signalFd, POLLIN, 0}};
        const int ready = poll(fds, 2, 1000);
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            wl_display_read_events(display);
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0 || (ready > 0 && (fds[1].revents & POLLIN))) {
            break;
        }
    }
    wl_display_disconnect(display);
    close(signalFd);
    return 0;
}
