// The drawing operations that the crawlet needs from the window it crawls on.
#pragma once

#include <cstdint>

namespace quillomir {

// A colour laid out 0x00BBGGRR, red in the low byte: black is 0, white 16777215.
using ColorValue = std::int32_t;

inline constexpr ColorValue kBlack = 0;
inline constexpr ColorValue kWhite = 16777215;

// All coordinates are twips (1/1440 inch) from the top-left of the client area.
class DrawingSurface {
  public:
    virtual ~DrawingSurface() = default;

    // The colour with which the following circles are filled.
    virtual void SetFillColor(ColorValue color) = 0;
    // Draws at once: the program never redraws by itself, it only paints over.
    virtual void DrawCircle(float x, float y, float radius, ColorValue outline) = 0;
    virtual float ScaleWidth() const = 0;
    virtual float ScaleHeight() const = 0;
};

}  // namespace quillomir
