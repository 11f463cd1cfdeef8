#include "cover.h"

namespace quillomir::wayland {

Cover::Cover(Session& session, Output& output, Kind kind)
    : session_(session), output_(output), kind_(kind) {
    surface_.reset(wl_compositor_create_surface(session.compositor()));
    role_ = kind == Kind::Window ? MakeWindowRole(session, *this, output)
                                 : MakeLayerRole(session, *this, output, kind == Kind::Input);
    // No buffer yet: the compositor answers with the size, then the first buffer maps it.
    wl_surface_commit(surface_.get());
}

Cover::~Cover() {
    viewport_.reset();
    role_.reset();
    surface_.reset();
}

void Cover::Configured(std::uint32_t width, std::uint32_t height) {
    answered_ = true;
    askedWidth_ = width;
    askedHeight_ = height;
    FollowOutput();
}

void Cover::FollowOutput() {
    if (!answered_) {
        return;
    }
    const SurfaceSize size = CoverSize(askedWidth_, askedHeight_, output_.size);
    if (size.width != width_ || size.height != height_) {
        width_ = size.width;
        height_ = size.height;
        needsPaint_ = true;
    }
}

bool Cover::ShowPlain(std::string& error) {
    if (!configured()) {
        return true;
    }
    const wl_shm_format format =
        kind_ == Kind::Input ? WL_SHM_FORMAT_ARGB8888 : WL_SHM_FORMAT_XRGB8888;
    if (session_.viewporter() != nullptr) {
        if (!viewport_) {
            viewport_.reset(wp_viewporter_get_viewport(session_.viewporter(), surface_.get()));
        }
        // The middle pixel of a 3x3 buffer, stretched: a renderer whose
        // scaling overshoots the source at the far edge (wlroots' pixman
        // renderer leaves the last column uncovered with a 1x1 source) still
        // reads black, not the outside of the buffer.
        if (!plain_ || plain_->width() != 3) {
            plain_ = ShmBuffer::Create(session_.shm(), 3, 3, false, error, format);
        }
        const wl_fixed_t one = wl_fixed_from_int(1);
        wp_viewport_set_source(viewport_.get(), one, one, one, one);
        wp_viewport_set_destination(viewport_.get(), width_, height_);
    } else if (!plain_ || plain_->width() != width_ || plain_->height() != height_) {
        plain_ = ShmBuffer::Create(session_.shm(), width_, height_, false, error, format);
    }
    if (!plain_) {
        return false;
    }
    if (bufferScale_ != 1) {
        wl_surface_set_buffer_scale(surface_.get(), 1);
        bufferScale_ = 1;
    }
    wl_surface_attach(surface_.get(), plain_->buffer(), 0, 0);
    wl_surface_damage(surface_.get(), 0, 0, width_, height_);
    wl_surface_commit(surface_.get());
    return true;
}

void Cover::ShowFrame(const CrawletSurface::Frame& frame, int scale) {
    if (viewport_) {
        viewport_.reset();  // the crawlet's buffer is the surface's own size
    }
    if (scale != bufferScale_) {
        wl_surface_set_buffer_scale(surface_.get(), scale);
        bufferScale_ = scale;
    }
    wl_surface_attach(surface_.get(), frame.buffer, 0, 0);
    const bool byBuffer = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(surface_.get())) >=
                          WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION;
    for (const PixelBox& box : frame.damage) {
        if (byBuffer) {
            wl_surface_damage_buffer(surface_.get(), box.x, box.y, box.width, box.height);
        } else {
            // Surface coordinates on older compositors: round outwards.
            const int left = box.x / scale;
            const int top = box.y / scale;
            wl_surface_damage(surface_.get(), left, top, (box.right() + scale - 1) / scale - left,
                              (box.bottom() + scale - 1) / scale - top);
        }
    }
    wl_surface_commit(surface_.get());
}

}  // namespace quillomir::wayland
