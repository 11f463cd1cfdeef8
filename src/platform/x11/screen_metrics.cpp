#include "screen_metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quillomir::x11 {

namespace {

constexpr double kFallbackDpi = 96.0;
// Outside this range the figure is a broken setting, not a screen.
constexpr double kMinDpi = 24.0;
constexpr double kMaxDpi = 1200.0;

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// A plain positive decimal such as "96" or "144.5".
std::optional<double> ParseDecimal(std::string_view text) {
    double value = 0;
    double scale = 0;  // 0 before the point, then 0.1, 0.01, ...
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && scale == 0) {
            scale = 0.1;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                value += (c - '0') * scale;
                scale /= 10;
            }
            if (value > kMaxDpi) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<double> ParseXftDpi(std::string_view resources) {
    while (!resources.empty()) {
        const auto newline = resources.find('\n');
        const std::string_view line = resources.substr(0, newline);
        resources.remove_prefix(newline == std::string_view::npos ? resources.size() : newline + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || Trim(line.substr(0, colon)) != "Xft.dpi") {
            continue;
        }
        const auto dpi = ParseDecimal(Trim(line.substr(colon + 1)));
        if (dpi && *dpi >= kMinDpi && *dpi <= kMaxDpi) {
            return dpi;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

double DpiFromScreenSize(int pixels, int millimetres) {
    if (pixels <= 0 || millimetres <= 0) {
        return kFallbackDpi;
    }
    const double dpi = pixels * 25.4 / millimetres;
    return dpi >= kMinDpi && dpi <= kMaxDpi ? dpi : kFallbackDpi;
}

unsigned long PixelOf(ColorValue color, const ChannelMasks& masks) {
    const auto channel = [](unsigned value8, unsigned long mask) -> unsigned long {
        if (mask == 0) {
            return 0;
        }
        int shift = 0;
        while (((mask >> shift) & 1) == 0) {
            ++shift;
        }
        const unsigned long max = mask >> shift;  // 255 for 8 bits, 31 for 5
        // Round to the nearest level, so that 255 always gives the full mask.
        const unsigned long level = (value8 * max + 127) / 255;
        return (level << shift) & mask;
    };
    const auto bits = static_cast<std::uint32_t>(color);
    return channel(bits & 0xFF, masks.red) | channel((bits >> 8) & 0xFF, masks.green) |
           channel((bits >> 16) & 0xFF, masks.blue);
}

namespace {

struct Rgb8 {
    int red, green, blue;
};

Rgb8 ChannelsOf(ColorValue color) {
    const auto bits = static_cast<std::uint32_t>(color);
    return {static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
            static_cast<int>((bits >> 16) & 0xFF)};
}

int Level8(unsigned short level16) {
    return level16 >> 8;
}

int ShiftOf(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && ((mask >> shift) & 1) == 0) {
        ++shift;
    }
    return shift;
}

}  // namespace

std::optional<unsigned long> NearestCell(ColorValue color, const std::vector<PaletteEntry>& cells) {
    const Rgb8 wanted = ChannelsOf(color);
    const bool wantedBlack = wanted.red == 0 && wanted.green == 0 && wanted.blue == 0;
    std::optional<unsigned long> best;
    long bestDistance = 0;
    for (const PaletteEntry& cell : cells) {
        const int r = Level8(cell.red), g = Level8(cell.green), b = Level8(cell.blue);
        if (!wantedBlack && r == 0 && g == 0 && b == 0) {
            continue;
        }
        const long distance = long{r - wanted.red} * (r - wanted.red) +
                              long{g - wanted.green} * (g - wanted.green) +
                              long{b - wanted.blue} * (b - wanted.blue);
        if (!best || distance < bestDistance) {
            best = cell.pixel;
            bestDistance = distance;
        }
    }
    return best;
}

unsigned long RampPixel(unsigned long index, const ChannelMasks& masks) {
    return ((index << ShiftOf(masks.red)) & masks.red) |
           ((index << ShiftOf(masks.green)) & masks.green) |
           ((index << ShiftOf(masks.blue)) & masks.blue);
}

std::optional<unsigned long> NearestDirectPixel(ColorValue color,
                                                const std::vector<PaletteEntry>& ramp,
                                                const ChannelMasks& masks) {
    if (ramp.empty()) {
        return std::nullopt;
    }
    const Rgb8 wanted = ChannelsOf(color);
    // The index of the ramp cell whose level in one channel is nearest.
    const auto nearest = [&](int want, unsigned short PaletteEntry::*channel) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < ramp.size(); ++i) {
            if (std::abs(Level8(ramp[i].*channel) - want) <
                std::abs(Level8(ramp[best].*channel) - want)) {
                best = i;
            }
        }
        return static_cast<unsigned long>(best);
    };
    return ((nearest(wanted.red, &PaletteEntry::red) << ShiftOf(masks.red)) & masks.red) |
           ((nearest(wanted.green, &PaletteEntry::green) << ShiftOf(masks.green)) & masks.green) |
           ((nearest(wanted.blue, &PaletteEntry::blue) << ShiftOf(masks.blue)) & masks.blue);
}

PixelRect PrimaryMonitor(const std::vector<Monitor>& monitors, const PixelRect& screen) {
    const auto usable = [](const Monitor& m) { return m.rect.width > 0 && m.rect.height > 0; };
    for (const Monitor& m : monitors) {
        if (m.primary && usable(m)) {
            return m.rect;
        }
    }
    for (const Monitor& m : monitors) {
        if (m.rect.x == 0 && m.rect.y == 0 && usable(m)) {
            return m.rect;
        }
    }
    for (const Monitor& m : monitors) {
        if (usable(m)) {
            return m.rect;
        }
    }
    return screen;
}

PixelRect CoveringRect(const std::vector<Monitor>& monitors, const PixelRect& screen) {
    int left = screen.x, top = screen.y;
    int right = screen.x + screen.width, bottom = screen.y + screen.height;
    for (const Monitor& m : monitors) {
        left = std::min(left, m.rect.x);
        top = std::min(top, m.rect.y);
        right = std::max(right, m.rect.x + m.rect.width);
        bottom = std::max(bottom, m.rect.y + m.rect.height);
    }
    return {left, top, right - left, bottom - top};
}

}  // namespace quillomir::x11
