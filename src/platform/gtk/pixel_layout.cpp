#include "pixel_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace quillomir::gtk_host {

namespace {

bool TakesFocus(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::OptionButton ||
           kind == ControlKind::CheckBox;
}

std::vector<const ControlEntry*> ByTab(const WindowLayout& layout, auto keep) {
    std::vector<const ControlEntry*> chosen;
    for (const ControlEntry& control : layout.controls) {
        if (keep(control)) {
            chosen.push_back(&control);
        }
    }
    std::ranges::stable_sort(chosen, {}, &ControlEntry::tab);
    return chosen;
}

}  // namespace

double UsableDpi(double reported) {
    // GTK answers -1 when no resolution is set; a value far outside what any
    // screen has would make the window unusable, so the common one serves then.
    if (!std::isfinite(reported) || reported < 24.0 || reported > 960.0) {
        return kDefaultDpi;
    }
    return reported;
}

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

PixelRect ControlPixels(const WindowLayout& layout, const ControlEntry& control, double dpi) {
    const TwipRect rect = layout.WindowRect(control);
    return {TwipsToPixels(rect.left, dpi), TwipsToPixels(rect.top, dpi),
            TwipsToPixels(rect.width, dpi), TwipsToPixels(rect.height, dpi)};
}

std::vector<const ControlEntry*> FocusOrder(const WindowLayout& layout) {
    return ByTab(layout, [](const ControlEntry& control) { return TakesFocus(control.kind); });
}

std::vector<const ControlEntry*> OptionGroup(const WindowLayout& layout,
                                             const ControlEntry& option) {
    if (option.kind != ControlKind::OptionButton) {
        return {};
    }
    return ByTab(layout, [&option](const ControlEntry& control) {
        return control.kind == ControlKind::OptionButton && control.frame == option.frame;
    });
}

std::string PangoFontText(const ControlFont& font) {
    std::string text;
    if (!font.face.empty()) {
        text.append(font.face).append(",");
    }
    text += "Microsoft Sans Serif,Liberation Sans,DejaVu Sans,Sans";
    if (font.points > 0) {
        // Pango reads a fractional size with a point, whatever the locale.
        char size[32];
        std::snprintf(size, sizeof size, " %.1f", font.points);
        std::replace(size, size + sizeof size, ',', '.');
        text += size;
    }
    return text;
}

Rgb RgbOf(ColorValue color) {
    const auto value = static_cast<std::uint32_t>(color);
    return {static_cast<std::uint8_t>(value & 0xFFu),
            static_cast<std::uint8_t>((value >> 8) & 0xFFu),
            static_cast<std::uint8_t>((value >> 16) & 0xFFu)};
}

}  // namespace quillomir::gtk_host
