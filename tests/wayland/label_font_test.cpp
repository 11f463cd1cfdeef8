#include "label_font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace quillomir::wayland {
namespace {

#ifdef QUILLOMIR_FONT_PROMISED
constexpr bool kFontPromised = true;
#else
constexpr bool kFontPromised = false;
#endif

TEST(LabelFont, RendersTheCaptionInTheDesktopsSansSerifWithinItsBox) {
    std::string error;
    const auto font = LabelFont::Load(8.0, 96.0, error);
    if (!font) {
        if (kFontPromised) {
            FAIL() << "the package list installs a sans-serif font, yet: " << error;
        }
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

    // What does not fit is cut off: a narrow box holds the same pixels as
    // the wide one's left part, neither shrunk nor wrapped, and ink to its edge.
    const std::string_view ws = "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
    const auto wide = font->Render(ws, 225, 17);
    const auto cut = font->Render(ws, 40, 17);
    ASSERT_EQ(cut.size(), 40u * 17u);
    int differing = 0, inkAtEdge = 0;
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 40; ++x) {
            const auto pixel = cut[static_cast<std::size_t>(y * 40 + x)];
            differing += pixel != wide[static_cast<std::size_t>(y * 225 + x)] ? 1 : 0;
            inkAtEdge += x >= 36 && pixel > 128 ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(inkAtEdge, 0);
}

}  // namespace
}  // namespace quillomir::wayland
