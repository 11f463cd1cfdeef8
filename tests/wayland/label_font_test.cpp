#include "label_font.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quillomir::wayland {
namespace {

TEST(LabelFont, RendersTheCaptionInTheDesktopsSansSerifWithinItsBox) {
    std::string error;
    const auto font = LabelFont::Load(8.0, 96.0, error);
    if (!font) {
        GTEST_SKIP() << error;  // no fontconfig, FreeType or font on this machine
    }
    // The label's box at 96 dpi: 225 x 17 pixels.
    const auto mask = font->Render("Averaging data over 60 seconds...", 225, 17);
    ASSERT_EQ(mask.size(), 225u * 17u);
    const auto inkAt = [&](int x, int y) { return mask[static_cast<std::size_t>(y * 225 + x)]; };
    int top = 17, bottom = -1, right = -1;
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 225; ++x) {
            if (inkAt(x, y) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                right = std::max(right, x);
            }
        }
    }
    // An 8-point font is about 11 pixels: capitals from near the top, the
    // baseline well inside the box, and the caption most of its width.
    EXPECT_LE(top, 4);
    EXPECT_GE(bottom, 8);
    EXPECT_LE(bottom, 15);
    EXPECT_GT(right, 120);

    const auto cut = font->Render("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 40, 17);
    EXPECT_EQ(cut.size(), 40u * 17u) << "what does not fit is cut off";
}

}  // namespace
}  // namespace quillomir::wayland
