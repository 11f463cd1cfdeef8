#include "screen_metrics.h"

#include <gtest/gtest.h>

#include "settings/settings_keys.h"

namespace quillomir::x11 {
namespace {

TEST(ScreenDpi, XftDpiFromTheResourceString) {
    EXPECT_EQ(ParseXftDpi("Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n"), 144.0);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: 96.5"), 96.5);
    EXPECT_EQ(ParseXftDpi("  Xft.dpi  :  120  \r\n"), 120.0);
    EXPECT_EQ(ParseXftDpi(""), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpix: 144\n*dpi: 144\n"), std::nullopt) << "other resources";
    EXPECT_EQ(ParseXftDpi("Xft.dpi:\n"), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: 0\n"), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: -96\n"), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: 96dpi\n"), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: 1.2.3\n"), std::nullopt);
    EXPECT_EQ(ParseXftDpi("Xft.dpi: 99999999999999999999\n"), std::nullopt);
}

TEST(ScreenDpi, FromTheScreenSizeWithASaneFallback) {
    EXPECT_NEAR(DpiFromScreenSize(1920, 508), 96.0, 1e-9);  // 20 inches
    EXPECT_NEAR(DpiFromScreenSize(3840, 508), 192.0, 1e-9);
    EXPECT_EQ(DpiFromScreenSize(1920, 0), 96.0) << "size unknown";
    EXPECT_EQ(DpiFromScreenSize(1920, 1), 96.0) << "absurd size";
    EXPECT_EQ(DpiFromScreenSize(0, 300), 96.0);
}

TEST(PixelFormat, ChannelsGoToTheVisualsMasks) {
    const ChannelMasks rgb888{0xFF0000, 0x00FF00, 0x0000FF};
    EXPECT_EQ(PixelOf(kRedValue, rgb888), 0xFF0000u);
    EXPECT_EQ(PixelOf(kGreenValue, rgb888), 0x00FF00u);
    EXPECT_EQ(PixelOf(kBlueValue, rgb888), 0x0000FFu);
    EXPECT_EQ(PixelOf(kPurpleValue, rgb888), 0xFF00FFu);
    EXPECT_EQ(PixelOf(0x00336699, rgb888), 0x996633u) << "0x00BBGGRR reversed into RGB";

    const ChannelMasks bgr888{0x0000FF, 0x00FF00, 0xFF0000};
    EXPECT_EQ(PixelOf(0x00336699, bgr888), 0x336699u);

    const ChannelMasks rgb565{0xF800, 0x07E0, 0x001F};
    EXPECT_EQ(PixelOf(kWhiteValue, rgb565), 0xFFFFu);
    EXPECT_EQ(PixelOf(kBlueValue, rgb565), 0x001Fu);
    EXPECT_EQ(PixelOf(kGreenValue, rgb565), 0x07E0u);
    EXPECT_EQ(PixelOf(0x00000080, rgb565), 16u << 11) << "128 of 255 is 16 of 31";

    const ChannelMasks rgb101010{0x3FF00000, 0x000FFC00, 0x000003FF};
    EXPECT_EQ(PixelOf(kWhiteValue, rgb101010), 0x3FFFFFFFu);
    // The unused top byte of a colour value must not leak into the pixel.
    EXPECT_EQ(PixelOf(static_cast<ColorValue>(0x7F0000FF), rgb888), 0xFF0000u);
    EXPECT_EQ(PixelOf(kWhiteValue, ChannelMasks{}), 0u);
}

TEST(PixelFormat, AFullPaletteGivesTheNearestCellButNeverBlackForAColour) {
    // 16-bit channels, as XQueryColors reports them.
    const std::vector<PaletteEntry> cells{
        {0, 0, 0, 0}, {1, 0xFFFF, 0xFFFF, 0xFFFF}, {2, 0, 0, 0x5000}, {3, 0x8000, 0x8000, 0x8000}};
    EXPECT_EQ(NearestCell(kBlueValue, cells), 2u) << "dark blue, not black, for blue";
    EXPECT_EQ(NearestCell(kBlack, cells), 0u);
    EXPECT_EQ(NearestCell(kWhiteValue, cells), 1u);
    EXPECT_EQ(NearestCell(0x00101010, {cells[0], cells[3]}), 3u) << "near black, yet not black";
    EXPECT_EQ(NearestCell(kRedValue, {{7, 0, 0, 0}}), std::nullopt);

    // DirectColor: each channel picks its own nearest level of the ramp.
    const ChannelMasks rgb888{0xFF0000, 0x00FF00, 0x0000FF};
    const std::vector<PaletteEntry> ramp{
        {RampPixel(0, rgb888), 0, 0, 0}, {RampPixel(1, rgb888), 0x7F00, 0x7F00, 0x7F00},
        {RampPixel(2, rgb888), 0xFF00, 0xFF00, 0xFF00}};
    EXPECT_EQ(RampPixel(2, rgb888), 0x020202u);
    EXPECT_EQ(NearestDirectPixel(kBlueValue, ramp, rgb888), 0x000002u);
    EXPECT_EQ(NearestDirectPixel(0x00FF8000, ramp, rgb888), 0x000102u);
    EXPECT_EQ(NearestDirectPixel(kBlueValue, {}, rgb888), std::nullopt);
}

TEST(Monitors, TheCrawletLivesOnThePrimaryAndBlackCoversAll) {
    const PixelRect screen{0, 0, 3840, 1080};
    const std::vector<Monitor> pair{{{1920, 0, 1920, 1080}, false}, {{0, 0, 1920, 1080}, true}};
    EXPECT_EQ(PrimaryMonitor(pair, screen), (PixelRect{0, 0, 1920, 1080}));

    const std::vector<Monitor> noPrimary{{{1920, 0, 1280, 1024}, false},
                                         {{0, 0, 1920, 1080}, false}};
    EXPECT_EQ(PrimaryMonitor(noPrimary, screen), (PixelRect{0, 0, 1920, 1080})) << "at origin";
    EXPECT_EQ(PrimaryMonitor({{{5, 5, 0, 0}, true}, {{100, 0, 640, 480}, false}}, screen),
              (PixelRect{100, 0, 640, 480}))
        << "an empty primary is skipped";
    EXPECT_EQ(PrimaryMonitor({}, screen), screen);

    // A monitor left of and below the origin widens the cover.
    const std::vector<Monitor> offset{{{0, 0, 1920, 1080}, true},
                                      {{-1280, 200, 1280, 1024}, false}};
    EXPECT_EQ(CoveringRect(offset, {0, 0, 1920, 1224}), (PixelRect{-1280, 0, 3200, 1224}));
    EXPECT_EQ(CoveringRect({}, screen), screen);
}

}  // namespace
}  // namespace quillomir::x11
