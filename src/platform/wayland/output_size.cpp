#include "output_size.h"

#include <algorithm>

namespace quillomir::wayland {

namespace {

constexpr std::uint32_t kLargest = 1u << 15;

int Clamped(std::uint32_t value) {
    return static_cast<int>(std::min(value, kLargest));
}

int DividedUp(int value, int by) {
    return value <= 0 ? 0 : (value + by - 1) / by;
}

}  // namespace

SurfaceSize SurfaceSizeOf(const OutputSize& output) {
    if (output.logicalWidth > 0 && output.logicalHeight > 0) {
        return {output.logicalWidth, output.logicalHeight};
    }
    const bool turned = (output.transform & 1) != 0;
    const int width = turned ? output.modeHeight : output.modeWidth;
    const int height = turned ? output.modeWidth : output.modeHeight;
    const int scale = std::max(output.scale, 1);
    return {DividedUp(width, scale), DividedUp(height, scale)};
}

SurfaceSize CoverSize(std::uint32_t width, std::uint32_t height, const OutputSize& output) {
    const SurfaceSize own = SurfaceSizeOf(output);
    return {width != 0 ? Clamped(width) : std::min(own.width, Clamped(kLargest)),
            height != 0 ? Clamped(height) : std::min(own.height, Clamped(kLargest))};
}

}  // namespace quillomir::wayland
