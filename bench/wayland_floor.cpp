// The floor for the Wayland saver's cost: the least that a layer-shell client
// of the same shape can do. A black cover on the overlay layer over each
// output, anchored to every edge and taking the keyboard, with a buffer of the
// output's size (on shared memory it never touches); then a poll on the
// connection that wakes once a second and commits nothing.
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace {

struct Globals {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    std::vector<wl_output*> outputs;
};

struct Cover {
    wl_shm* shm = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool shown = false;
};

void Global(void* data, wl_registry* registry, uint32_t id, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        globals->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, id, &wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        globals->shm = static_cast<wl_shm*>(wl_registry_bind(registry, id, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        globals->shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, id, &zwlr_layer_shell_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        globals->outputs.push_back(
            static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, 1)));
    }
}

void GlobalRemove(void*, wl_registry*, uint32_t) {}

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
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wayland_floor: no compositor\n");
        return 1;
    }
    Globals globals;
    static const wl_registry_listener registryListener = {Global, GlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, &globals);
    wl_display_roundtrip(display);
    if (globals.compositor == nullptr || globals.shm == nullptr || globals.shell == nullptr) {
        std::fprintf(stderr, "wayland_floor: no layer shell\n");
        return 1;
    }
    static const zwlr_layer_surface_v1_listener layerListener = {Configure, Closed};
    std::vector<Cover> covers(globals.outputs.size());
    for (std::size_t i = 0; i < covers.size(); ++i) {
        Cover& cover = covers[i];
        cover.shm = globals.shm;
        cover.surface = wl_compositor_create_surface(globals.compositor);
        cover.layer =
            zwlr_layer_shell_v1_get_layer_surface(globals.shell, cover.surface, globals.outputs[i],
                                                  ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "floor");
        zwlr_layer_surface_v1_add_listener(cover.layer, &layerListener, &cover);
        zwlr_layer_surface_v1_set_anchor(cover.layer, 15);
        zwlr_layer_surface_v1_set_exclusive_zone(cover.layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(cover.layer, 1);
        wl_surface_commit(cover.surface);
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
