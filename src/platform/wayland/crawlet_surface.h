// The crawlet's drawing surface on its Wayland cover. The core's twips are
// laid out at 96 dpi times the output's integer scale, in buffer pixels.
// What the core draws is recorded as it comes and laid onto a buffer that the
// compositor has released when the host takes a frame: only the discs and
// label pixels that change are written, and only their boxes are damaged.
// Up to two buffers: most compositors copy a buffer and release it at once,
// so one serves; those that show the buffer itself keep it until the next
// commit, and the second is brought up to date from the first, box by box.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crawlet/drawing_surface.h"
#include "frame_buffer.h"
#include "label_font.h"
#include "pixel_canvas.h"

namespace quillomir::wayland {

class CrawletSurface : public DrawingSurface {
  public:
    // Where the buffers come from; set before the first resize.
    void UseBuffers(FrameBufferMaker make) { make_ = std::move(make); }

    // A new size (surface coordinates) or scale: the buffers start again, all
    // black, and the next frame shows the whole surface. The host repaints.
    void Resize(int width, int height, int scale);
    int scale() const { return scale_; }

    void SetFillColor(ColorValue color) override { fill_ = color; }
    void DrawCircle(float x, float y, float radius, ColorValue outline) override;
    float ScaleWidth() const override;
    float ScaleHeight() const override;

    // The label as it is now: drawn in the order of the discs around it.
    void DrawLabel(bool visible, std::string_view caption);

    // Surface coordinates to twips.
    static std::int32_t ToTwips(double surfaceCoordinate);

    struct Frame {
        wl_buffer* buffer = nullptr;
        std::vector<PixelBox> damage;  // buffer pixels
    };
    // What was drawn since the last frame, laid on a free buffer; empty when
    // nothing changed, or when no buffer is free (it waits for a release).
    // `error` is set when a buffer cannot be made.
    std::optional<Frame> TakeFrame(std::string& error);
    // True when drawing waits for a buffer: the host takes a frame on release.
    bool pending() const { return !ops_.empty() || showAll_; }
    // True when so much waited that the recording was dropped: the host resizes and repaints.
    bool overflowed() const { return overflowed_; }

  private:
    struct Op {
        float x, y, radius;
        ColorValue fill, outline;
        int label;  // index into labels_ for a label, else -1
    };
    struct Label {
        bool visible;
        std::string caption;
    };
    struct Slot {
        std::unique_ptr<FrameBuffer> buffer;
        std::unique_ptr<PixelCanvas> canvas;
        std::vector<PixelBox> stale;  // changed elsewhere since this one was current
        std::size_t keptPages = 0;    // what showed something at the last giving back
    };

    void Record(const Op& op);
    PixelBox Apply(PixelCanvas& canvas, const Op& op);
    PixelBox PaintLabel(PixelCanvas& canvas, const Label& label);
    Slot* FreeSlot(std::string& error);
    void GiveBackOverBudget(Slot& slot);
    double PixelsPerTwip() const { return scale_ * 96.0 / 1440.0; }

    FrameBufferMaker make_;
    int width_ = 0;  // surface coordinates
    int height_ = 0;
    int scale_ = 1;
    ColorValue fill_ = kBlack;
    std::vector<Op> ops_;
    std::vector<Label> labels_;
    std::vector<Slot> slots_;
    int latest_ = -1;                // the slot shown last
    std::vector<PixelBox> painted_;  // every box changed since the resize
    bool showAll_ = false;           // the next frame damages the whole buffer
    bool overflowed_ = false;
    std::unique_ptr<LabelFont> font_;
    bool fontFailed_ = false;
};

}  // namespace quillomir::wayland
