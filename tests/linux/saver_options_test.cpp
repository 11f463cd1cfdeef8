#include "saver_options.h"

#include <gtest/gtest.h>

#include "settings/settings_keys.h"

namespace quillomir::linux_host {
namespace {

SaverOptions Parse(std::vector<std::string_view> args, const char* env = nullptr) {
    const ParsedOptions parsed = ParseSaverOptions(args, env);
    EXPECT_TRUE(parsed.options) << parsed.error;
    return parsed.options.value_or(SaverOptions{});
}

std::string Error(std::vector<std::string_view> args, const char* env = nullptr) {
    const ParsedOptions parsed = ParseSaverOptions(args, env);
    EXPECT_FALSE(parsed.options);
    return parsed.error;
}

TEST(SaverOptions, WhereItDraws) {
    EXPECT_EQ(Parse({}).target, SaverTarget::OwnWindow);
    EXPECT_EQ(Parse({"--root"}).target, SaverTarget::Root);
    EXPECT_EQ(Parse({"-root"}).target, SaverTarget::Root) << "the one-dash form of X programs";

    const SaverOptions byId = Parse({"--window-id", "0x2a00007"});
    EXPECT_EQ(byId.target, SaverTarget::Window);
    EXPECT_EQ(byId.windowId, 0x2a00007u);
    EXPECT_EQ(Parse({"--window-id=44040199"}).windowId, 44040199u);

    // The screen saver's window, with or without --root; an explicit id wins.
    const SaverOptions saver = Parse({"--root"}, "0x1e00003");
    EXPECT_EQ(saver.target, SaverTarget::Window);
    EXPECT_EQ(saver.windowId, 0x1e00003u);
    EXPECT_EQ(Parse({}, "31457283").windowId, 31457283u);
    EXPECT_EQ(Parse({"--window-id", "7"}, "0x1e00003").windowId, 7u);
    EXPECT_EQ(Parse({"--display", ":5"}).display, ":5");
}

TEST(SaverOptions, OverridesOfTheSettings) {
    const SaverOptions none = Parse({});
    EXPECT_FALSE(none.method);
    EXPECT_FALSE(none.displayValue);
    EXPECT_FALSE(none.color);

    EXPECT_EQ(Parse({"--method", "cpu"}).method, 1);
    EXPECT_EQ(Parse({"--method=memory"}).method, 2);
    EXPECT_EQ(Parse({"--method", "none"}).method, 3);
    EXPECT_EQ(Parse({"--show-value"}).displayValue, 1);
    EXPECT_EQ(Parse({"--show-value", "--no-show-value"}).displayValue, 0) << "the last one wins";
    EXPECT_EQ(Parse({"--color", "red"}).color, kRedValue);
    EXPECT_EQ(Parse({"--color", "green"}).color, kGreenValue);
    EXPECT_EQ(Parse({"--color", "blue"}).color, kBlueValue);
    EXPECT_EQ(Parse({"--color", "purple"}).color, kPurpleValue);
    EXPECT_EQ(Parse({"--color=white"}).color, kWhiteValue);
    EXPECT_EQ(Parse({"--color", "0"}).color, 0);
    EXPECT_EQ(Parse({"--color", "8421504"}).color, 8421504);

    EXPECT_EQ(Parse({"--help"}).action, SaverAction::Help);
    EXPECT_EQ(Parse({"--version"}).action, SaverAction::Version);
    EXPECT_EQ(Parse({"--config"}).action, SaverAction::Config);
}

TEST(SaverOptions, BadCommandLinesSayWhatIsWrong) {
    EXPECT_NE(Error({"--fast"}).find("--fast"), std::string::npos);
    EXPECT_NE(Error({"stray"}).find("stray"), std::string::npos);
    EXPECT_NE(Error({"-"}).find("\"-\""), std::string::npos);
    EXPECT_NE(Error({"--method"}).find("cpu, memory or none"), std::string::npos) << "no value";
    EXPECT_NE(Error({"--method", "CPU"}).find("cpu, memory"), std::string::npos);
    EXPECT_NE(Error({"--color", "pink"}).find("--color"), std::string::npos);
    Error({"--color", "16777216"});
    Error({"--color", "-1"});
    Error({"--color", "0x0000ff"});
    Error({"--color", ""});
    Error({"--window-id", "0"});
    Error({"--window-id", "0x"});
    Error({"--window-id", "12ab"});
    Error({"--window-id", "0x100000000"});
    Error({"--window-id"});
    Error({"--root=yes"});
    Error({"--display"});
    EXPECT_NE(Error({}, "not-a-window").find("XSCREENSAVER_WINDOW"), std::string::npos);
    EXPECT_NE(Error({"--root"}, "").find("XSCREENSAVER_WINDOW"), std::string::npos);
}

TEST(SaverOptions, ActionsThatDrawNothingIgnoreABadScreenSaverWindow) {
    for (const char* bad : {"", "garbage", "0x", "0"}) {
        EXPECT_EQ(Parse({"--help"}, bad).action, SaverAction::Help) << bad;
        EXPECT_EQ(Parse({"--version"}, bad).action, SaverAction::Version) << bad;
        EXPECT_EQ(Parse({"--config"}, bad).action, SaverAction::Config) << bad;
    }
}

TEST(SaverOptions, TheDisplaySystemFollowsTheOptionsThenTheEnvironment) {
    const DisplayEnvironment both{"wayland-1", ":0"};
    const DisplayEnvironment x11Only{nullptr, ":0"};
    const DisplayEnvironment waylandOnly{"wayland-1", ""};
    const auto choose = [](std::vector<std::string_view> args, DisplayEnvironment environment,
                           const char* screenSaverWindow = nullptr) {
        return ChooseDisplaySystem(Parse(args, screenSaverWindow), environment).system;
    };
    EXPECT_EQ(choose({}, both), DisplaySystem::Wayland);
    EXPECT_EQ(choose({}, x11Only), DisplaySystem::X11);
    EXPECT_EQ(choose({}, waylandOnly), DisplaySystem::Wayland) << "an empty DISPLAY is unset";
    EXPECT_EQ(choose({"--x11"}, both), DisplaySystem::X11);
    EXPECT_EQ(choose({"--wayland"}, x11Only), DisplaySystem::Wayland);
    // An X window option means X11 even in a Wayland session (XWayland).
    EXPECT_EQ(choose({"--root"}, both), DisplaySystem::X11);
    EXPECT_EQ(choose({"--window-id", "7"}, both), DisplaySystem::X11);
    EXPECT_EQ(choose({"--display", ":1"}, both), DisplaySystem::X11);
    EXPECT_EQ(choose({}, both, "0x1e00003"), DisplaySystem::X11);
    EXPECT_EQ(choose({"--output", "DP-1"}, x11Only), DisplaySystem::Wayland);
    // Forced to Wayland, the screen saver's window is not looked at, even a bad one.
    EXPECT_EQ(choose({"--wayland"}, both, "garbage"), DisplaySystem::Wayland);
    EXPECT_EQ(Parse({"--output=HDMI-A-1"}).output, "HDMI-A-1");
    // A connection handed over in WAYLAND_SOCKET is a Wayland session even
    // where only DISPLAY names a display; an X window option still means X11.
    const DisplayEnvironment handedSocket{nullptr, ":0", "5"};
    EXPECT_EQ(choose({}, handedSocket), DisplaySystem::Wayland);
    EXPECT_EQ(choose({"--root"}, handedSocket), DisplaySystem::X11);

    const SystemChoice none = ChooseDisplaySystem(Parse({}), {nullptr, nullptr});
    EXPECT_FALSE(none.system);
    EXPECT_NE(none.error.find("WAYLAND_DISPLAY"), std::string::npos);
}

TEST(SaverOptions, OneDisplaySystemsOptionsDoNotMixWithTheOthers) {
    EXPECT_NE(Error({"--x11", "--wayland"}).find("cannot go together"), std::string::npos);
    for (const std::vector<std::string_view>& args :
         std::vector<std::vector<std::string_view>>{{"--wayland", "--root"},
                                                    {"--wayland", "--window-id", "7"},
                                                    {"--wayland", "--display", ":0"}}) {
        EXPECT_NE(Error(args).find("not --wayland"), std::string::npos) << args[1];
    }
    EXPECT_NE(Error({"--x11", "--output", "DP-1"}).find("Wayland output"), std::string::npos);
    EXPECT_NE(Error({"--root", "--output", "DP-1"}).find("Wayland output"), std::string::npos);
    EXPECT_NE(Error({"--output"}).find("--output needs"), std::string::npos);
    EXPECT_NE(Error({"--output="}).find("--output needs"), std::string::npos);
    Error({"--wayland=yes"});
}

TEST(SaverOptions, FullscreenMeansWaylandAndGoesWithOutput) {
    const SaverOptions both = Parse({"--fullscreen", "--output", "DP-1"});
    EXPECT_TRUE(both.fullscreen);
    EXPECT_EQ(both.output, "DP-1");
    EXPECT_FALSE(Parse({}).fullscreen);
    // Wayland even where only DISPLAY is set, and the screen saver's window is not looked at.
    const SaverOptions started = Parse({"--fullscreen"}, "0x1e00003");
    EXPECT_EQ(started.target, SaverTarget::OwnWindow);
    EXPECT_EQ(ChooseDisplaySystem(started, {nullptr, ":0"}).system, DisplaySystem::Wayland);
    EXPECT_TRUE(Parse({"--wayland", "--fullscreen"}).fullscreen);
    Error({"--fullscreen=yes"});
}

class FullscreenWithX11 : public testing::TestWithParam<std::vector<std::string_view>> {};

TEST_P(FullscreenWithX11, IsRefused) {
    std::vector<std::string_view> args = GetParam();
    args.insert(args.begin(), "--fullscreen");
    EXPECT_NE(Error(args).find("--fullscreen covers Wayland"), std::string::npos) << args[1];
}

INSTANTIATE_TEST_SUITE_P(SaverOptions, FullscreenWithX11,
                         testing::Values(std::vector<std::string_view>{"--x11"},
                                         std::vector<std::string_view>{"--root"},
                                         std::vector<std::string_view>{"--window-id", "7"},
                                         std::vector<std::string_view>{"--display", ":0"}));

TEST(SaverOptions, UsageNamesEveryOption) {
    const std::string usage = SaverUsage("quillomir");
    for (const char* option :
         {"--root", "--window-id", "--method", "--show-value", "--no-show-value", "--color",
          "--config", "--help", "--version", "--wayland", "--x11", "--output", "--fullscreen",
          "swayidle", "quillomir.conf"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace quillomir::linux_host
