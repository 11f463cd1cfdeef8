// The Linux saver's command line: where it draws, what it does, and the
// settings that override the file for one run; and which display system it
// runs on, from the options and the environment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillomir::linux_host {

enum class SaverAction { Run, Config, Help, Version };

enum class SaverTarget {
    OwnWindow,  // a full-screen window of its own that closes on input
    Root,       // the root window, or the screen saver's window when one is named
    Window,     // a window given by id
};

enum class DisplaySystem { X11, Wayland };

struct SaverOptions {
    SaverAction action = SaverAction::Run;
    SaverTarget target = SaverTarget::OwnWindow;  // X11 only
    std::uint32_t windowId = 0;                   // for SaverTarget::Window
    std::optional<std::string> display;           // X11 only
    std::optional<std::string> output;            // Wayland only: the crawlet's output
    // Wayland only: full-screen windows instead of layer-shell surfaces.
    bool fullscreen = false;
    std::optional<DisplaySystem> forced;  // --x11 or --wayland
    // Overrides of the stored settings.
    std::optional<std::int16_t> method;
    std::optional<std::int16_t> displayValue;
    std::optional<std::int32_t> color;
};

struct ParsedOptions {
    std::optional<SaverOptions> options;  // empty: `error` says why
    std::string error;
};

// `args` excludes the program name. Long options take one or two dashes and
// their value either as the next word or after "=". `screenSaverWindow` is the
// value of $XSCREENSAVER_WINDOW, or null when it is unset.
ParsedOptions ParseSaverOptions(const std::vector<std::string_view>& args,
                                const char* screenSaverWindow);

// What the environment says about the session: each null when unset.
struct DisplayEnvironment {
    const char* waylandDisplay = nullptr;  // $WAYLAND_DISPLAY
    const char* display = nullptr;         // $DISPLAY
    const char* waylandSocket = nullptr;   // $WAYLAND_SOCKET: a connection handed over
};

struct SystemChoice {
    std::optional<DisplaySystem> system;  // empty: `error` says why
    std::string error;
};

// The display system a run uses: the forced one; X11 for an X window option
// (--root, --window-id, $XSCREENSAVER_WINDOW, --display); Wayland for
// --output and --fullscreen; else Wayland when $WAYLAND_SOCKET or $WAYLAND_DISPLAY is set, X11
// when $DISPLAY is.
SystemChoice ChooseDisplaySystem(const SaverOptions& options,
                                 const DisplayEnvironment& environment);

// A window id as decimal or as 0x-prefixed hexadecimal; 0 and values beyond 32
// bits are not window ids.
std::optional<std::uint32_t> ParseWindowId(std::string_view text);

// The text of --help.
std::string SaverUsage(std::string_view program);

}  // namespace quillomir::linux_host
