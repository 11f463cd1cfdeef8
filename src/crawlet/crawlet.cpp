#include "crawlet/crawlet.h"

#include <algorithm>

namespace quillomir {

namespace {

struct Offset {
    int dx;
    int dy;
};

Offset StepOffset(std::int16_t direction, int step) {
    switch (direction) {
        case UpRight:
            return {step, -step};
        case DownRight:
            return {step, step};
        case DownLeft:
            return {-step, step};
        case UpLeft:
            return {-step, -step};
        default:
            return {0, 0};  // never called with another code
    }
}

void DrawSegment(DrawingSurface& surface, const SegmentPoint& p, std::int16_t radius,
                 ColorValue outline) {
    surface.DrawCircle(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(radius),
                       outline);
}

}  // namespace

int Crawlet::SafeLength() const {
    // The sampler keeps the length within 4..105; this only guards the table.
    return std::clamp<int>(CrawletLength, kMinLength, kMaxLength);
}

void Crawlet::MoveCrawlet(DrawingSurface& surface, ColorValue crawletColor) {
    const int length = SafeLength();

    surface.SetFillColor(kBlack);
    for (int i = kEraseFrom; i >= length; --i) {
        DrawSegment(surface, SegmentPos[i], SegmentRadius, kBlack);
    }

    // Neighbouring discs overlap, so the erase bit into the last kept one.
    surface.SetFillColor(crawletColor);
    DrawSegment(surface, SegmentPos[length - 1], SegmentRadius, crawletColor);

    for (int i = length; i >= 1; --i) {
        SegmentPos[i] = SegmentPos[i - 1];
    }

    const Offset offset = StepOffset(Direction, StepSize);
    SegmentPos[0].x = SegmentPos[1].x + offset.dx;
    SegmentPos[0].y = SegmentPos[1].y + offset.dy;
    DrawSegment(surface, SegmentPos[0], SegmentRadius, crawletColor);
}

void Crawlet::BounceTick(DrawingSurface& surface, ColorValue crawletColor) {
    if (Direction < UpRight || Direction > UpLeft) {
        return;  // MoveCrawlet is only defined for the four headings
    }
    MoveCrawlet(surface, crawletColor);

    const float width = surface.ScaleWidth();
    const float height = surface.ScaleHeight();
    const SegmentPoint head = SegmentPos[0];
    const float x = static_cast<float>(head.x);
    const float y = static_cast<float>(head.y);

    // The horizontal test comes first; a corner turns only horizontally this tick.
    // The head is never pulled back inside.
    switch (Direction) {
        case UpRight:
            if (x >= width) {
                Direction = UpLeft;
            } else if (head.y <= 0) {
                Direction = DownRight;
            }
            break;
        case DownRight:
            if (x >= width) {
                Direction = DownLeft;
            } else if (y >= height) {
                Direction = UpRight;
            }
            break;
        case DownLeft:
            if (head.x <= 0) {
                Direction = DownRight;
            } else if (y >= height) {
                Direction = UpLeft;
            }
            break;
        case UpLeft:
            if (head.x <= 0) {
                Direction = UpRight;
            } else if (head.y <= 0) {
                Direction = DownLeft;
            }
            break;
        default:
            break;
    }
}

void Crawlet::Redraw(DrawingSurface& surface, ColorValue crawletColor) const {
    const int last = std::min<int>(SafeLength(), kMaxLength);
    surface.SetFillColor(crawletColor);
    for (int i = last; i >= 0; --i) {
        DrawSegment(surface, SegmentPos[i], SegmentRadius, crawletColor);
    }
}

}  // namespace quillomir
