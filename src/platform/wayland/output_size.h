// What an output tells about its size, and the size a cover takes from a
// layer-shell configure: a width or height of 0 there leaves the choice to
// the client, and a cover that fills its output picks the output's own.
// Plain numbers, so that the rules are tested without a compositor.
#pragma once

#include <cstdint>

namespace quillomir::wayland {

struct OutputSize {
    int modeWidth = 0;  // the current mode, in pixels, before the transform
    int modeHeight = 0;
    int transform = 0;  // wl_output's: odd values turn it a quarter
    int scale = 1;
    int logicalWidth = 0;  // xdg-output's size in the layout, where offered
    int logicalHeight = 0;
};

struct SurfaceSize {
    int width = 0;
    int height = 0;
    bool operator==(const SurfaceSize&) const = default;
};

// The output's size in surface coordinates: xdg-output's logical size where
// it gives one (it knows fractional scales), else the mode turned by the
// transform and divided by the scale, rounded up so that nothing is left
// uncovered; 0 x 0 while the output has said neither.
SurfaceSize SurfaceSizeOf(const OutputSize& output);

// The size a configure gives a cover on `output`: each of the configure's
// dimensions, or the output's where it is 0; each at most 32768.
SurfaceSize CoverSize(std::uint32_t width, std::uint32_t height, const OutputSize& output);

}  // namespace quillomir::wayland
