// The controls of the settings dialog and of the About box as data: the host
// renders these tables, and nothing else says where a control is or what it reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "crawlet/drawing_surface.h"
#include "settings/twip_rect.h"

namespace quillomir {

enum class ControlKind { Button, Frame, Label, OptionButton, CheckBox };

enum class TextAlign { Left, Center };

// A font of the control's own; an empty face means the toolkit's default font.
struct ControlFont {
    std::string_view face;
    double points = 0;
    bool underline = false;

    bool IsDefault() const { return face.empty(); }
};

inline constexpr std::string_view kMsSansSerif = "MS Sans Serif";

struct ControlEntry {
    ControlKind kind;
    std::string_view name;
    std::string_view caption;
    // Inside a frame, relative to the frame.
    TwipRect rect;
    int tab;
    // The frame's name, or empty when the control sits directly on the window.
    std::string_view frame;
    // Option buttons: selected when the window opens.
    bool initiallySelected = false;
    ControlFont font = {};
    TextAlign align = TextAlign::Left;
    std::optional<ColorValue> textColor = std::nullopt;
    bool wordWrap = false;
    // Labels that report clicks and show a hand pointer.
    bool clickable = false;
};

struct WindowLayout {
    std::string_view caption;
    std::int32_t clientWidth;
    std::int32_t clientHeight;
    std::span<const ControlEntry> controls;

    // Null when the table has no control of that name.
    const ControlEntry* Find(std::string_view name) const;
    // The control's rectangle in the window's client coordinates.
    TwipRect WindowRect(const ControlEntry& control) const;
};

extern const WindowLayout kConfigLayout;
extern const WindowLayout kAboutLayout;

}  // namespace quillomir
