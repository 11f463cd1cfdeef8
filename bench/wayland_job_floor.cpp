// The same-job floor for the Wayland saver: the floor's black layer-shell
// cover, plus what the saver's job needs at the least: a wake once a second,
// the load read from /proc every ten seconds, and two disc-sized areas a
// second (the old disc put out, a new one drawn) damaged and committed on a
// full-size buffer. The compositor may read a committed buffer until it
// releases it, so there are two, drawn in turn, as a conforming client must.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "layer_globals.h"
#include "proc_job.h"
#include "termination_fd.h"

namespace {

struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    std::size_t bytes = 0;
    bool busy = false;
};

struct Cover {
    wl_shm* shm = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    int width = 0;
    int height = 0;
    Buffer buffers[2];
};

void Release(void* data, wl_buffer*) {
    static_cast<Buffer*>(data)->busy = false;
}
const wl_buffer_listener kBufferListener = {Release};

bool MakeBuffer(wl_shm* shm, int width, int height, Buffer& out) {
    const int stride = width * 4;
    out.bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = memfd_create("job-floor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(out.bytes)) != 0) {
        return false;
    }
    void* map = mmap(nullptr, out.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        return false;
    }
    out.pixels = static_cast<std::uint32_t*>(map);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int>(out.bytes));
    out.buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(out.buffer, &kBufferListener, &out);
    return true;
}

void FillDisc(Cover& cover, std::uint32_t* pixels, bench::DiscPlace at, std::uint32_t colour) {
    constexpr int d = bench::kDiscDiameter;
    const int r2 = (d / 2) * (d / 2);
    for (int y = 0; y < d && at.y + y < cover.height; ++y) {
        for (int x = 0; x < d && at.x + x < cover.width; ++x) {
            const int dx = 2 * x + 1 - d, dy = 2 * y + 1 - d;
            if (dx * dx + dy * dy <= 4 * r2) {
                pixels[(at.y + y) * cover.width + at.x + x] = colour;
            }
        }
    }
}

// One frame: the buffer that is free is brought to the picture (the disc it
// last showed put out), the new disc drawn, and the two areas damaged.
void Draw(Cover& cover, unsigned wake) {
    if (cover.width == 0) {
        return;
    }
    Buffer* target = !cover.buffers[0].busy   ? &cover.buffers[0]
                     : !cover.buffers[1].busy ? &cover.buffers[1]
                                              : nullptr;
    if (target == nullptr) {
        return;  // both still read by the compositor: skip this second
    }
    constexpr int d = bench::kDiscDiameter;
    const auto older = bench::PlaceOf(wake + 1000 - 2, cover.width, cover.height, d);
    const auto old = bench::PlaceOf(wake + 1000 - 1, cover.width, cover.height, d);
    const auto now = bench::PlaceOf(wake + 1000, cover.width, cover.height, d);
    FillDisc(cover, target->pixels, older, 0);
    FillDisc(cover, target->pixels, old, 0);
    FillDisc(cover, target->pixels, now, 0x00c0ff);
    wl_surface_attach(cover.surface, target->buffer, 0, 0);
    wl_surface_damage_buffer(cover.surface, old.x, old.y, d, d);
    wl_surface_damage_buffer(cover.surface, now.x, now.y, d, d);
    wl_surface_commit(cover.surface);
    target->busy = true;
}

void Configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
               uint32_t height) {
    auto* cover = static_cast<Cover*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    if (cover->width != 0 || width == 0 || height == 0) {
        return;
    }
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (!MakeBuffer(cover->shm, w, h, cover->buffers[0]) ||
        !MakeBuffer(cover->shm, w, h, cover->buffers[1])) {
        return;
    }
    cover->width = w;
    cover->height = h;
    wl_surface_attach(cover->surface, cover->buffers[0].buffer, 0, 0);
    wl_surface_damage_buffer(cover->surface, 0, 0, w, h);
    wl_surface_commit(cover->surface);
    cover->buffers[0].busy = true;
}

void Closed(void*, zwlr_layer_surface_v1*) {}

}  // namespace

int main() {
    const int signalFd = bench::TerminationSignalFd();
    const int timerFd = bench::OneSecondTimer();

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr || timerFd < 0) {
        std::fprintf(stderr, "wayland_job_floor: no compositor\n");
        return 1;
    }
    bench::LayerGlobals globals;
    if (!bench::BindLayerGlobals(display, globals)) {
        std::fprintf(stderr, "wayland_job_floor: no layer shell\n");
        return 1;
    }
    static const zwlr_layer_surface_v1_listener layerListener = {Configure, Closed};
    std::vector<Cover> covers(globals.outputs.size());
    for (std::size_t i = 0; i < covers.size(); ++i) {
        Cover& cover = covers[i];
        cover.shm = globals.shm;
        cover.surface = wl_compositor_create_surface(globals.compositor);
        cover.layer = bench::OverlayCover(globals, cover.surface, globals.outputs[i], "job-floor",
                                          layerListener, &cover);
    }

    unsigned wake = 0;
    for (;;) {
        while (wl_display_prepare_read(display) != 0) {
            wl_display_dispatch_pending(display);
        }
        wl_display_flush(display);
        pollfd fds[3] = {
            {wl_display_get_fd(display), POLLIN, 0}, {signalFd, POLLIN, 0}, {timerFd, POLLIN, 0}};
        const int ready = poll(fds, 3, -1);
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            wl_display_read_events(display);
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0 || (ready > 0 && (fds[1].revents & POLLIN))) {
            break;
        }
        if (ready > 0 && (fds[2].revents & POLLIN) != 0 && bench::TimerFired(timerFd)) {
            ++wake;
            bench::SampleLoad(wake);
            for (Cover& cover : covers) {
                Draw(cover, wake);
            }
        }
    }
    wl_display_disconnect(display);
    close(timerFd);
    close(signalFd);
    return 0;
}
