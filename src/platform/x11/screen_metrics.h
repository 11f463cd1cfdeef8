// How the saver maps the core's twips and colours onto an X screen: the DPI,
// the visual's pixel layout, and the monitor that holds the crawlet. No Xlib
// types here, so that the rules are tested without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "crawlet/drawing_surface.h"

namespace quillomir::x11 {

inline constexpr double kTwipsPerInch = 1440.0;

// The "Xft.dpi" value of a resource-manager string (the RESOURCE_MANAGER
// property of the root window), when it holds a sensible positive number.
std::optional<double> ParseXftDpi(std::string_view resources);

// The DPI from the screen's size: pixels over millimetres; 96 when the
// millimetres are unknown (0) or give an absurd figure.
double DpiFromScreenSize(int pixels, int millimetres);

// The masks of a TrueColor or DirectColor visual.
struct ChannelMasks {
    unsigned long red = 0;
    unsigned long green = 0;
    unsigned long blue = 0;
};

// A 0x00BBGGRR colour as a pixel of the visual: each 8-bit channel scaled to
// its mask's width and shifted into place.
unsigned long PixelOf(ColorValue color, const ChannelMasks& masks);

// One colour cell of a palette, 16 bits a channel, as the server reports it.
struct PaletteEntry {
    unsigned long pixel = 0;
    unsigned short red = 0;
    unsigned short green = 0;
    unsigned short blue = 0;
};

// The cell nearest to `color` when the palette is full and the exact colour
// cannot be had. A colour that is not black never falls back to a black cell:
// a blue crawlet drawn in black is no crawlet. Empty when no cell qualifies.
std::optional<unsigned long> NearestCell(ColorValue color, const std::vector<PaletteEntry>& cells);

// The DirectColor pixel that selects level `index` in every channel's map.
unsigned long RampPixel(unsigned long index, const ChannelMasks& masks);

// For a DirectColor visual whose channels each index a map of their own: the
// nearest level of each channel among `ramp` (cell i holds level i of every
// channel), combined into one pixel by the masks. Empty for an empty ramp.
std::optional<unsigned long> NearestDirectPixel(ColorValue color,
                                                const std::vector<PaletteEntry>& ramp,
                                                const ChannelMasks& masks);

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct Monitor {
    PixelRect rect;
    bool primary = false;
};

// The monitor that holds the crawlet: the one marked primary, else the one at
// the origin, else the first; the whole screen when there is no monitor list.
PixelRect PrimaryMonitor(const std::vector<Monitor>& monitors, const PixelRect& screen);

// The smallest rectangle that covers every monitor and the screen.
PixelRect CoveringRect(const std::vector<Monitor>& monitors, const PixelRect& screen);

}  // namespace quillomir::x11
