// One output's cover: a surface that a shell role (cover_role.h) puts over
// the output. On the layer shell each output has two, one on each of the
// saver's connections:
// - the picture, which shows black or the crawlet and takes no input (an empty
//   input region, no keyboard), so that the compositor's answers to its
//   frames can wait in their socket until the next tick;
// - the input cover, transparent, which takes the keyboard (exclusively) and
//   the pointer, on the connection that the saver always listens to.
// With --fullscreen each output has one, a window: the picture, taking input.
// A plain cover costs no full-size buffer: a 1x1 buffer stretched by
// wp_viewporter, or where that is not offered a buffer of the output's size
// on memory that this process never touches (all zeros: black, or clear).
#pragma once

#include <wayland-client.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "cover_role.h"
#include "crawlet_surface.h"
#include "shm_buffer.h"
#include "wl_object.h"
#include "wl_session.h"

namespace quillomir::wayland {

class Cover {
  public:
    enum class Kind { Picture, Input, Window };

    Cover(Session& session, Output& output, Kind kind);
    ~Cover();
    Cover(const Cover&) = delete;
    Cover& operator=(const Cover&) = delete;

    Output& output() const { return output_; }
    wl_surface* surface() const { return surface_.get(); }
    // A configure has come (the size may still wait for the output's).
    bool answered() const { return answered_; }
    bool configured() const { return width_ > 0 && height_ > 0; }
    // The compositor took the cover away, for its output or for its own reasons.
    bool closed() const { return closed_; }
    // The compositor asked the window to close: the saver ends.
    bool endAsked() const { return endAsked_; }
    std::chrono::steady_clock::time_point madeAt() const { return madeAt_; }
    // The output's size changed: a cover whose configure left the size to us follows it.
    void FollowOutput();
    int width() const { return width_; }
    int height() const { return height_; }

    // True once after each configure that changed the size, or a request:
    // what is shown must be made again.
    bool TakeNeedsPaint() { return std::exchange(needsPaint_, false); }
    void RequestPaint() { needsPaint_ = true; }

    // What the role heard, acknowledged: a size (0: ours to choose), the
    // cover taken away, a request to end.
    void Configured(std::uint32_t width, std::uint32_t height);
    void MarkClosed() { closed_ = true; }
    void AskToEnd() { endAsked_ = true; }

    // Shows black (a picture) or nothing (an input cover); false with a
    // message when no buffer can be made.
    bool ShowPlain(std::string& error);
    // Shows a frame of the crawlet's surface at the output's scale.
    void ShowFrame(const CrawletSurface::Frame& frame, int scale);

  private:
    Session& session_;
    Output& output_;
    Kind kind_;
    WlObject<wl_surface> surface_;
    std::unique_ptr<CoverRole> role_;  // destroyed before the surface
    WlObject<wp_viewport> viewport_;
    std::unique_ptr<ShmBuffer> plain_;
    std::uint32_t askedWidth_ = 0;  // the last configure's; 0: ours to choose
    std::uint32_t askedHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bufferScale_ = 1;
    bool needsPaint_ = false;
    bool closed_ = false;
    bool endAsked_ = false;
    bool answered_ = false;
    std::chrono::steady_clock::time_point madeAt_ = std::chrono::steady_clock::now();
};

}  // namespace quillomir::wayland
