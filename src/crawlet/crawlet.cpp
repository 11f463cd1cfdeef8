#include "crawlet/crawlet.h"

#include <algorithm>
#include <limits>

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

// The head stays within two steps of the window, so this never binds there;
// it only keeps a head on some other surface from overflowing.
std::int32_t Advance(std::int32_t from, int by) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{from} + by, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max()));
}

std::int16_t HeadingOf(bool right, bool down) {
    if (right) {
        return down ? DownRight : UpRight;
    }
    return down ? DownLeft : UpLeft;
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
    SegmentPos[0].x = Advance(SegmentPos[1].x, offset.dx);
    SegmentPos[0].y = Advance(SegmentPos[1].y, offset.dy);
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

    // Only the edges the heading moves towards are tested, inclusively.
    const bool right = Direction == UpRight || Direction == DownRight;
    const bool down = Direction == DownRight || Direction == DownLeft;
    const bool hitSide = right ? x >= width : head.x <= 0;
    const bool hitEnd = down ? y >= height : head.y <= 0;

    // The horizontal test comes first: at a corner only the horizontal heading
    // turns this tick, and the vertical edge is dealt with on the next one. The
    // head is never pulled back inside.
    bool turnVertically = !hitSide && hitEnd;
    // On a window no wider than one step the head meets a side every tick, so
    // the vertical test would never get its turn and the head would drift away.
    if (hitSide && width <= static_cast<float>(StepSize)) {
        turnVertically = hitEnd;
    }
    Direction = HeadingOf(right != hitSide, down != turnVertically);
}

void Crawlet::Redraw(DrawingSurface& surface, ColorValue crawletColor) const {
    surface.SetFillColor(crawletColor);
    for (int i = SafeLength(); i >= 0; --i) {
        DrawSegment(surface, SegmentPos[i], SegmentRadius, crawletColor);
    }
}

}  // namespace quillomir
