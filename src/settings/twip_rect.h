// A rectangle in twips: left, top, width and height.
#pragma once

#include <cstdint>

namespace quillomir {

struct TwipRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t width;
    std::int32_t height;

    constexpr bool Contains(std::int32_t x, std::int32_t y) const {
        return x >= left && x < left + width && y >= top && y < top + height;
    }
    constexpr bool operator==(const TwipRect&) const = default;
};

}  // namespace quillomir
