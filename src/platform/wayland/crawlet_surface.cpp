#include "crawlet_surface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "saver/frm_main.h"

namespace quillomir::wayland {

namespace {

constexpr double kTwipsPerPixel = 15.0;  // at 96 dpi
// Boxes kept apart before they are merged into one: a stale copy or a damage
// list stays short whatever happens.
constexpr std::size_t kMaxBoxes = 64;
// Drawing recorded while no buffer is free; beyond this the frame is repainted whole.
constexpr std::size_t kMaxOps = 20000;
constexpr double kLabelPoints = 8.0;

std::uint32_t PixelOf(ColorValue color) {
    const auto bits = static_cast<std::uint32_t>(color);
    return (bits & 0xFF) << 16 | (bits & 0xFF00) | ((bits >> 16) & 0xFF);
}

void AddBox(std::vector<PixelBox>& boxes, const PixelBox& box) {
    if (box.empty()) {
        return;
    }
    if (boxes.size() >= kMaxBoxes) {
        PixelBox all = box;
        for (const PixelBox& b : boxes) {
            all = all.Union(b);
        }
        boxes.assign(1, all);
        return;
    }
    boxes.push_back(box);
}

}  // namespace

void CrawletSurface::Resize(int width, int height, int scale) {
    if (scale != scale_) {
        font_.reset();
        fontFailed_ = false;
    }
    width_ = width;
    height_ = height;
    scale_ = scale;
    slots_.clear();
    latest_ = -1;
    painted_.clear();
    ops_.clear();
    labels_.clear();
    showAll_ = true;
    overflowed_ = false;
}

std::int32_t CrawletSurface::ToTwips(double surfaceCoordinate) {
    return static_cast<std::int32_t>(std::lrint(surfaceCoordinate * kTwipsPerPixel));
}

float CrawletSurface::ScaleWidth() const {
    return static_cast<float>(width_ * kTwipsPerPixel);
}

float CrawletSurface::ScaleHeight() const {
    return static_cast<float>(height_ * kTwipsPerPixel);
}

void CrawletSurface::Record(const Op& op) {
    if (overflowed_) {
        return;
    }
    if (ops_.size() >= kMaxOps) {
        overflowed_ = true;  // the compositor has kept every buffer for minutes
        ops_.clear();
        labels_.clear();
        return;
    }
    ops_.push_back(op);
}

void CrawletSurface::DrawCircle(float x, float y, float radius, ColorValue outline) {
    Record({x, y, radius, fill_, outline, -1});
}

void CrawletSurface::DrawLabel(bool visible, std::string_view caption) {
    labels_.push_back({visible, std::string(caption)});
    Record({0, 0, 0, 0, 0, static_cast<int>(labels_.size() - 1)});
}

PixelBox CrawletSurface::Apply(PixelCanvas& canvas, const Op& op) {
    if (op.label >= 0) {
        return PaintLabel(canvas, labels_[static_cast<std::size_t>(op.label)]);
    }
    const double k = PixelsPerTwip();
    return canvas.Disc(op.x * k, op.y * k, op.radius * k, PixelOf(op.fill), PixelOf(op.outline));
}

PixelBox CrawletSurface::PaintLabel(PixelCanvas& canvas, const Label& label) {
    const double k = PixelsPerTwip();
    const PixelBox box{static_cast<int>(std::lrint(kLabelRect.left * k)),
                       static_cast<int>(std::lrint(kLabelRect.top * k)),
                       static_cast<int>(std::lrint(kLabelRect.width * k)),
                       static_cast<int>(std::lrint(kLabelRect.height * k))};
    if (label.visible && !font_ && !fontFailed_) {
        std::string error;
        font_ = LabelFont::Load(kLabelPoints, 96.0 * scale_, error);
        if (!font_) {
            fontFailed_ = true;
            std::fprintf(stderr, "quillomir: %s; the label stays blank\n", error.c_str());
        }
    }
    if (!label.visible || !font_) {
        return canvas.Fill(box, 0);
    }
    const std::vector<std::uint8_t> mask = font_->Render(label.caption, box.width, box.height);
    return canvas.Shade(box, mask.data(), box.width, PixelOf(kLabelTextColor));
}

void CrawletSurface::GiveBackOverBudget(Slot& slot) {
    // Every page the crawlet passes comes into memory once; giving the black
    // ones back at each frame would cost a page fault and a system call for
    // each, again and again. So a buffer keeps what it has shown, up to an
    // allowance over what still shows something, and then gives back its
    // black pages all at once.
    const std::size_t pages = static_cast<std::size_t>(slot.buffer->stride()) *
                              static_cast<std::size_t>(slot.buffer->height()) / PixelCanvas::kPage;
    const std::size_t allowance = std::max<std::size_t>(pages / 8, 64);
    if (slot.canvas->residentPages() <= slot.keptPages + allowance) {
        return;
    }
    for (const ByteRange& range : slot.canvas->TakeBlackPages()) {
        slot.buffer->GiveBack(range.offset, range.length);
    }
    slot.keptPages = slot.canvas->residentPages();
}

CrawletSurface::Slot* CrawletSurface::FreeSlot(std::string& error) {
    // The one shown last needs no bringing up to date: take it when it is free.
    if (latest_ >= 0 && !slots_[static_cast<std::size_t>(latest_)].buffer->busy()) {
        return &slots_[static_cast<std::size_t>(latest_)];
    }
    for (Slot& slot : slots_) {
        if (!slot.buffer->busy()) {
            return &slot;
        }
    }
    if (slots_.size() >= 2) {
        return nullptr;
    }
    Slot slot;
    slot.buffer = make_(width_ * scale_, height_ * scale_, error);
    if (!slot.buffer) {
        return nullptr;
    }
    slot.canvas = std::make_unique<PixelCanvas>(slot.buffer->pixels(), slot.buffer->width(),
                                                slot.buffer->height());
    slot.stale = painted_;  // a new buffer is black: everything shown so far is missing
    slots_.push_back(std::move(slot));
    return &slots_.back();
}

std::optional<CrawletSurface::Frame> CrawletSurface::TakeFrame(std::string& error) {
    if (!pending() || width_ <= 0 || height_ <= 0) {
        return std::nullopt;
    }
    Slot* slot = FreeSlot(error);
    if (slot == nullptr) {
        return std::nullopt;
    }
    PixelCanvas& canvas = *slot->canvas;
    if (latest_ >= 0 && slot != &slots_[static_cast<std::size_t>(latest_)]) {
        const PixelCanvas& shown = *slots_[static_cast<std::size_t>(latest_)].canvas;
        for (const PixelBox& box : slot->stale) {
            canvas.CopyFrom(shown, box);
        }
    }
    slot->stale.clear();

    std::vector<PixelBox> changed;
    for (const Op& op : ops_) {
        AddBox(changed, Apply(canvas, op));
    }
    ops_.clear();
    labels_.clear();
    GiveBackOverBudget(*slot);

    for (const PixelBox& box : changed) {
        AddBox(painted_, box);
        for (Slot& other : slots_) {
            if (&other != slot) {
                AddBox(other.stale, box);
            }
        }
    }
    if (showAll_) {
        changed.assign(1, canvas.bounds());
        showAll_ = false;
    }
    if (changed.empty()) {
        return std::nullopt;  // drawn over with the same pixels: nothing to show
    }
    latest_ = static_cast<int>(slot - slots_.data());
    slot->buffer->MarkBusy();
    return Frame{slot->buffer->buffer(), std::move(changed)};
}

}  // namespace quillomir::wayland
