// What the GTK host makes of a layout table before any widget exists: pixel
// rectangles for the display's DPI, the keyboard order, the option groups, and
// the font and colour of a control's own. Kept free of GTK
// so that it is tested without a display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/config_layout.h"

namespace quillomir::gtk_host {

inline constexpr double kTwipsPerInch = 1440.0;
// What GTK and X assume when the display states no resolution.
inline constexpr double kDefaultDpi = 96.0;

struct PixelRect {
    int x;
    int y;
    int width;
    int height;

    bool operator==(const PixelRect&) const = default;
};

// The display's resolution, or 96 when it gives none that makes sense.
double UsableDpi(double reported);

// Twips to the nearest whole pixel, as the Windows host rounds them.
int TwipsToPixels(int twips, double dpi);

// The control's rectangle in the window's client area, in pixels.
PixelRect ControlPixels(const WindowLayout& layout, const ControlEntry& control, double dpi);

// The controls that take the keyboard focus, in tab order: buttons, option
// buttons and check boxes. Frames and labels are passed over, as on Windows.
std::vector<const ControlEntry*> FocusOrder(const WindowLayout& layout);

// The option buttons that share the control's frame, in tab order; selecting one
// clears the others. Empty for a control that is no option button.
std::vector<const ControlEntry*> OptionGroup(const WindowLayout& layout,
                                             const ControlEntry& option);

// A Pango font description for a control's own font: the table's face first,
// then near sans-serif faces where it is missing, at the table's points.
std::string PangoFontText(const ControlFont& font);

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;

    bool operator==(const Rgb&) const = default;
};

// The channels of a 0x00BBGGRR colour value (red in the low byte).
Rgb RgbOf(ColorValue color);

}  // namespace quillomir::gtk_host
