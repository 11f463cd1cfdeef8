// The crawlet: a chain of equal discs whose head steps diagonally once a tick.
#pragma once

#include <array>
#include <cstdint>

#include "crawlet/drawing_surface.h"

namespace quillomir {

// Twips. 32-bit, because 16-bit twips overflow on any screen wider or taller than
// about 2,170 pixels at 96 DPI.
struct SegmentPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;

    friend bool operator==(const SegmentPoint&, const SegmentPoint&) = default;
};

// Heading codes, compared numerically.
inline constexpr std::int16_t UpRight = 1;
inline constexpr std::int16_t DownRight = 2;
inline constexpr std::int16_t DownLeft = 3;
inline constexpr std::int16_t UpLeft = 4;

// The crawlet's whole state; the saver window owns one for the run.
class Crawlet {
  public:
    static constexpr int kSegmentCount = 111;  // indices 0..110; entry 0 is the head
    static constexpr int kEraseFrom = 105;     // the tail erase always starts here
    static constexpr std::int16_t kMinLength = 1;
    static constexpr std::int16_t kMaxLength = kSegmentCount - 1;

    std::array<SegmentPoint, kSegmentCount> SegmentPos{};
    std::int16_t SegmentRadius = 0;
    std::int16_t StepSize = 0;
    std::int16_t CrawletLength = 0;
    std::int16_t Direction = 0;

    // One step: erase the surplus tail, repair the last kept segment, shift the
    // chain, advance the head and draw it.
    void MoveCrawlet(DrawingSurface& surface, ColorValue crawletColor);

    // The movement timer's tick: one step, then turn the heading at an edge.
    void BounceTick(DrawingSurface& surface, ColorValue crawletColor);

    // Repaints what a tick leaves on screen: entries 0 to CrawletLength.
    void Redraw(DrawingSurface& surface, ColorValue crawletColor) const;

    // CrawletLength forced into the range the table can index (1..110).
    int SafeLength() const;
};

}  // namespace quillomir
