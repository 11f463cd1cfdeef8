#include "pixel_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace quillomir::gtk_host {
namespace {

std::vector<std::string> Names(const std::vector<const ControlEntry*>& controls) {
    std::vector<std::string> names;
    for (const ControlEntry* control : controls) {
        names.emplace_back(control->name);
    }
    return names;
}

TEST(TwipsToPixels, ScalesByTheDisplaysDpiAndRoundsToNearest) {
    EXPECT_EQ(TwipsToPixels(1440, 96), 96);
    EXPECT_EQ(TwipsToPixels(1440, 144), 144);
    // 5088 twips at 96 dpi are 339.2 pixels; 2772 are 184.8.
    EXPECT_EQ(TwipsToPixels(5088, 96), 339);
    EXPECT_EQ(TwipsToPixels(2772, 96), 185);
    // Half a pixel rounds away from zero, as the Windows host's lround does.
    EXPECT_EQ(TwipsToPixels(7, 96), 0);
    EXPECT_EQ(TwipsToPixels(8, 96), 1);
    EXPECT_EQ(TwipsToPixels(0, 96), 0);
}

TEST(UsableDpi, TakesTheDisplaysResolutionAndFallsBackTo96OnNonsense) {
    EXPECT_DOUBLE_EQ(UsableDpi(96), 96);
    EXPECT_DOUBLE_EQ(UsableDpi(120.5), 120.5);
    EXPECT_DOUBLE_EQ(UsableDpi(192), 192);
    // GTK's "not set", and values no screen has.
    EXPECT_DOUBLE_EQ(UsableDpi(-1), kDefaultDpi);
    EXPECT_DOUBLE_EQ(UsableDpi(0), kDefaultDpi);
    EXPECT_DOUBLE_EQ(UsableDpi(5000), kDefaultDpi);
    EXPECT_DOUBLE_EQ(UsableDpi(std::numeric_limits<double>::quiet_NaN()), kDefaultDpi);
    EXPECT_DOUBLE_EQ(UsableDpi(std::numeric_limits<double>::infinity()), kDefaultDpi);
}

TEST(ControlPixels, PlacesControlsInsideAFrameRelativeToTheFrame) {
    const ControlEntry& memory = *kConfigLayout.Find("optMemory");
    // Frame1 at (120, 120) plus (360, 1080): (480, 1200) twips, 2292 x 252.
    EXPECT_EQ(ControlPixels(kConfigLayout, memory, 96), (PixelRect{32, 80, 153, 17}));
    EXPECT_EQ(ControlPixels(kConfigLayout, memory, 192), (PixelRect{64, 160, 306, 34}));

    const ControlEntry& white = *kConfigLayout.Find("optWhite");
    // Frame2 at (3000, 120) plus (240, 1800).
    EXPECT_EQ(ControlPixels(kConfigLayout, white, 96), (PixelRect{216, 128, 97, 17}));

    const ControlEntry& ok = *kConfigLayout.Find("CommandOK");
    EXPECT_EQ(ControlPixels(kConfigLayout, ok, 96), (PixelRect{48, 176, 97, 33}));
}

TEST(ControlPixels, EveryControlFitsInItsWindowAtCommonDpis) {
    for (const WindowLayout* layout : {&kConfigLayout, &kAboutLayout}) {
        for (const double dpi : {96.0, 120.0, 144.0, 192.0}) {
            const int width = TwipsToPixels(layout->clientWidth, dpi);
            const int height = TwipsToPixels(layout->clientHeight, dpi);
            for (const ControlEntry& control : layout->controls) {
                const PixelRect rect = ControlPixels(*layout, control, dpi);
                EXPECT_GE(rect.x, 0) << control.name;
                EXPECT_GE(rect.y, 0) << control.name;
                EXPECT_LE(rect.x + rect.width, width) << control.name << " at " << dpi;
                EXPECT_LE(rect.y + rect.height, height) << control.name << " at " << dpi;
            }
        }
    }
}

TEST(FocusOrder, FollowsTheTabColumnAndSkipsFramesAndLabels) {
    // optWhite (tab 10) comes before optPurple (tab 11), although the table
    // lists and draws Purple above White.
    EXPECT_EQ(
        Names(FocusOrder(kConfigLayout)),
        (std::vector<std::string>{"CommandOK", "optCPU", "optMemory", "chkValue", "optBlue",
                                  "optRed", "optGreen", "optWhite", "optPurple", "CommandAbout"}));
    EXPECT_EQ(Names(FocusOrder(kAboutLayout)), (std::vector<std::string>{"Command1"}));
}

TEST(FocusOrder, SortsATableThatIsNotInTabOrder) {
    using enum ControlKind;
    const ControlEntry controls[] = {
        {Button, "Last", "L", {0, 0, 10, 10}, 7, ""},
        {Label, "Text", "T", {0, 0, 10, 10}, 0, ""},
        {CheckBox, "First", "F", {0, 0, 10, 10}, 1, ""},
        {Frame, "Box", "B", {0, 0, 10, 10}, 2, ""},
        {OptionButton, "Middle", "M", {0, 0, 10, 10}, 5, "Box"},
    };
    const WindowLayout layout{"t", 100, 100, controls};
    EXPECT_EQ(Names(FocusOrder(layout)), (std::vector<std::string>{"First", "Middle", "Last"}));
}

TEST(OptionGroup, IsTheOptionsOfTheSameFrameInTabOrder) {
    EXPECT_EQ(Names(OptionGroup(kConfigLayout, *kConfigLayout.Find("optRed"))),
              (std::vector<std::string>{"optBlue", "optRed", "optGreen", "optWhite", "optPurple"}));
    EXPECT_EQ(Names(OptionGroup(kConfigLayout, *kConfigLayout.Find("optCPU"))),
              (std::vector<std::string>{"optCPU", "optMemory"}));
    // The check box shares Frame1 but is no option: it belongs to no group.
    EXPECT_TRUE(OptionGroup(kConfigLayout, *kConfigLayout.Find("chkValue")).empty());
}

TEST(PangoFontText, NamesTheTablesFaceWithNearSansSerifFallbacksAndItsSize) {
    const ControlFont title{kMsSansSerif, 13.8};
    const std::string text = PangoFontText(title);
    EXPECT_EQ(text.rfind("MS Sans Serif,", 0), 0U) << text;
    EXPECT_NE(text.find(",Sans "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 5), " 13.8") << text;
    const std::string small = PangoFontText(ControlFont{kMsSansSerif, 9.6});
    EXPECT_EQ(small.substr(small.size() - 4), " 9.6") << small;
}

TEST(RgbOf, ReadsRedFromTheLowByte) {
    // The About link's blue is 0xFF0000 in 0x00BBGGRR.
    EXPECT_EQ(RgbOf(0xFF0000), (Rgb{0, 0, 255}));
    EXPECT_EQ(RgbOf(255), (Rgb{255, 0, 0}));
    EXPECT_EQ(RgbOf(65280), (Rgb{0, 255, 0}));
    EXPECT_EQ(RgbOf(0x123456), (Rgb{0x56, 0x34, 0x12}));
    // Bits above the blue byte are no colour.
    EXPECT_EQ(RgbOf(static_cast<ColorValue>(0xFF00FF00u)), (Rgb{0, 255, 0}));
}

}  // namespace
}  // namespace quillomir::gtk_host
