#include "saver_options.h"

#include <array>
#include <utility>

#include "measure/sampler.h"
#include "settings/settings_keys.h"

namespace quillomir::linux_host {

namespace {

constexpr std::array<std::pair<std::string_view, std::int32_t>, 5> kColorNames{{
    {"red", kRedValue},
    {"green", kGreenValue},
    {"blue", kBlueValue},
    {"purple", kPurpleValue},
    {"white", kWhiteValue},
}};

constexpr std::array<std::pair<std::string_view, std::int16_t>, 3> kMethodNames{{
    {"cpu", kMethodCpu},
    {"memory", kMethodMemory},
    {"none", kMethodNone},
}};

std::optional<std::int32_t> ParseColor(std::string_view text) {
    for (const auto& [name, value] : kColorNames) {
        if (text == name) {
            return value;
        }
    }
    const auto value = ParseSettingText(text, IntWidth::Int32);
    if (!value || *value < 0 || *value > kWhiteValue) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int16_t> ParseMethod(std::string_view text) {
    for (const auto& [name, value] : kMethodNames) {
        if (text == name) {
            return value;
        }
    }
    return std::nullopt;
}

ParsedOptions Fail(std::string message) {
    return {std::nullopt, std::move(message)};
}

}  // namespace

std::optional<std::uint32_t> ParseWindowId(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    if (value == 0 || value > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

ParsedOptions ParseSaverOptions(const std::vector<std::string_view>& args,
                                const char* screenSaverWindow) {
    SaverOptions options;
    bool root = false;
    bool explicitWindow = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view word = args[i];
        if (word.size() < 2 || word[0] != '-') {
            return Fail("unexpected argument \"" + std::string(word) + "\"");
        }
        word.remove_prefix(word[1] == '-' ? 2 : 1);
        std::optional<std::string_view> inlineValue;
        if (const auto equals = word.find('='); equals != std::string_view::npos) {
            inlineValue = word.substr(equals + 1);
            word = word.substr(0, equals);
        }
        const std::string name(word);
        // The option's value: after "=", or the next word.
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto noValue = [&]() { return !inlineValue.has_value(); };

        if ((name == "help" || name == "h") && noValue()) {
            options.action = SaverAction::Help;
        } else if (name == "version" && noValue()) {
            options.action = SaverAction::Version;
        } else if (name == "config" && noValue()) {
            options.action = SaverAction::Config;
        } else if (name == "root" && noValue()) {
            root = true;
        } else if ((name == "x11" || name == "wayland") && noValue()) {
            const DisplaySystem system =
                name == "x11" ? DisplaySystem::X11 : DisplaySystem::Wayland;
            if (options.forced && *options.forced != system) {
                return Fail("--x11 and --wayland cannot go together");
            }
            options.forced = system;
        } else if (name == "fullscreen" && noValue()) {
            options.fullscreen = true;
        } else if (name == "show-value" && noValue()) {
            options.displayValue = 1;
        } else if (name == "no-show-value" && noValue()) {
            options.displayValue = 0;
        } else if (name == "window-id") {
            const auto text = value();
            const auto id = text ? ParseWindowId(*text) : std::nullopt;
            if (!id) {
                return Fail("--window-id needs a window id, such as 0x2a00007 or 44040199");
            }
            options.target = SaverTarget::Window;
            options.windowId = *id;
            explicitWindow = true;
        } else if (name == "method") {
            const auto text = value();
            const auto method = text ? ParseMethod(*text) : std::nullopt;
            if (!method) {
                return Fail("--method needs cpu, memory or none");
            }
            options.method = method;
        } else if (name == "color") {
            const auto text = value();
            const auto color = text ? ParseColor(*text) : std::nullopt;
            if (!color) {
                return Fail(
                    "--color needs red, green, blue, purple, white or a decimal 0x00BBGGRR value "
                    "from 0 to 16777215");
            }
            options.color = color;
        } else if (name == "display") {
            const auto text = value();
            if (!text || text->empty()) {
                return Fail("--display needs an X display name, such as :0");
            }
            options.display = std::string(*text);
        } else if (name == "output") {
            const auto text = value();
            if (!text || text->empty()) {
                return Fail(
                    "--output needs an output's name, such as DP-1 (see: swaymsg -t get_outputs)");
            }
            options.output = std::string(*text);
        } else {
            return Fail("unknown option \"" + std::string(args[i]) + "\"");
        }
    }

    // Options of one display system cannot be mixed with the other's.
    const bool x11Option = root || explicitWindow || options.display;
    if (options.forced == DisplaySystem::Wayland && x11Option) {
        return Fail("--root, --window-id and --display are for X11, not --wayland");
    }
    if (options.output && (x11Option || options.forced == DisplaySystem::X11)) {
        return Fail("--output names a Wayland output; it cannot go with X11 options");
    }
    if (options.fullscreen && (x11Option || options.forced == DisplaySystem::X11)) {
        return Fail("--fullscreen covers Wayland outputs; it cannot go with X11 options");
    }
    const bool wayland =
        options.forced == DisplaySystem::Wayland || options.output || options.fullscreen;

    // Only drawing needs the screen saver's window: --help, --version and
    // --config work whatever the variable holds, and so does a Wayland run.
    if (options.action == SaverAction::Run && options.target != SaverTarget::Window && !wayland &&
        screenSaverWindow != nullptr) {
        // The screen saver names the window it shows: draw there, not on the root.
        const auto id = ParseWindowId(screenSaverWindow);
        if (!id) {
            return Fail("XSCREENSAVER_WINDOW is not a window id: \"" +
                        std::string(screenSaverWindow) + "\"");
        }
        options.target = SaverTarget::Window;
        options.windowId = *id;
    } else if (options.target != SaverTarget::Window && root) {
        options.target = SaverTarget::Root;
    }
    return {options, {}};
}

SystemChoice ChooseDisplaySystem(const SaverOptions& options,
                                 const DisplayEnvironment& environment) {
    if (options.forced) {
        return {options.forced, {}};
    }
    if (options.target != SaverTarget::OwnWindow || options.display) {
        return {DisplaySystem::X11, {}};
    }
    if (options.output || options.fullscreen) {
        return {DisplaySystem::Wayland, {}};
    }
    const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    // A compositor that hands its client a connected socket means Wayland,
    // whatever the names say.
    if (set(environment.waylandSocket) || set(environment.waylandDisplay)) {
        return {DisplaySystem::Wayland, {}};
    }
    if (set(environment.display)) {
        return {DisplaySystem::X11, {}};
    }
    return {std::nullopt,
            "there is no display to cover: neither WAYLAND_DISPLAY nor DISPLAY is set "
            "(--wayland or --x11 picks one and tries its default)"};
}

std::string SaverUsage(std::string_view program) {
    std::string text = "Usage: ";
    text += program;
    text += R"( [OPTION]...
Quillomir: a screen saver whose crawlet, a chain of discs crawling across the
screen, grows with the machine's CPU or memory load.

It runs on Wayland when $WAYLAND_DISPLAY (or $WAYLAND_SOCKET) is set, else on
X11 ($DISPLAY); an X11 window option or $XSCREENSAVER_WINDOW means X11.
  --wayland            run on Wayland (a compositor with wlr-layer-shell)
  --x11                run on X11

Where it draws:
  (no option)          its own black cover over every monitor; a key, a click
                       or the sixth mouse move ends it
  --output NAME        Wayland: the crawlet on output NAME (default: the first
                       output the compositor lists)
  --fullscreen         Wayland: cover each output with a full-screen window
                       instead of a layer-shell surface, for a desktop whose
                       shell keeps such windows on top (GNOME, through
                       Quillomir's GNOME Shell extension, which passes it)
  --root               X11: the root window, or the window in
                       $XSCREENSAVER_WINDOW; input is the screen saver's,
                       SIGTERM or SIGINT ends it
  --window-id ID       X11: the window ID (decimal or 0x hexadecimal), as --root
  --display NAME       X11: the X display to use instead of $DISPLAY

For this run only (the saved settings stay as they are):
  --method cpu|memory|none
                       what the crawlet's length shows
  --show-value, --no-show-value
                       show or hide the percentage in the top-left corner
  --color red|green|blue|purple|white|DECIMAL
                       the crawlet's colour; DECIMAL is 0x00BBGGRR as a number

Other:
  --config             open the settings dialog
  --help               show this text
  --version            show the version

SIGTERM and SIGINT end it cleanly (exit status 0), as an idle daemon's resume
command does. With swayidle, started in the background so that swayidle's
later timeouts (the lock) still run: swayidle -w timeout 600 'quillomir &'
resume 'pkill -x quillomir'

Settings are kept in $XDG_CONFIG_HOME/quillomir/quillomir.conf
(~/.config/quillomir/quillomir.conf when XDG_CONFIG_HOME is unset).
Exit status: 0 when it ended normally, 1 when it could not run, 2 for a bad
command line.
)";
    return text;
}

}  // namespace quillomir::linux_host
