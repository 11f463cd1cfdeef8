#include "output_size.h"

#include <gtest/gtest.h>

namespace quillomir::wayland {
namespace {

struct Case {
    const char* what;
    std::uint32_t width, height;  // the configure's
    OutputSize output;
    SurfaceSize expected;
};

class CoverSizeTest : public testing::TestWithParam<Case> {};

TEST_P(CoverSizeTest, TakesTheOutputsSizeWhereTheConfigureLeavesIt) {
    const Case& c = GetParam();
    EXPECT_EQ(CoverSize(c.width, c.height, c.output), c.expected) << c.what;
}

constexpr OutputSize kScaled{.modeWidth = 1280, .modeHeight = 720, .scale = 2};

INSTANTIATE_TEST_SUITE_P(
    Configures, CoverSizeTest,
    testing::Values(
        Case{"both given", 800, 600, kScaled, {800, 600}},
        Case{"0 x 0: the mode over the scale", 0, 0, kScaled, {640, 360}},
        Case{"only the height left to us", 500, 0, kScaled, {500, 360}},
        Case{"an odd mode at scale 2 rounds up",
             0,
             0,
             {.modeWidth = 1367, .modeHeight = 769, .scale = 2},
             {684, 385}},
        Case{"turned a quarter (90)",
             0,
             0,
             {.modeWidth = 1920, .modeHeight = 1080, .transform = 1},
             {1080, 1920}},
        Case{"flipped and turned (flipped-270)",
             0,
             0,
             {.modeWidth = 1920, .modeHeight = 1080, .transform = 7},
             {1080, 1920}},
        Case{"xdg-output's logical size wins (a fractional scale)",
             0,
             0,
             {.modeWidth = 2560,
              .modeHeight = 1440,
              .scale = 2,
              .logicalWidth = 1707,
              .logicalHeight = 960},
             {1707, 960}},
        Case{"nothing known yet", 0, 0, {}, {0, 0}},
        Case{"a huge configure is cut", 1u << 20, 70000, kScaled, {32768, 32768}},
        Case{"a huge mode is cut", 0, 0, {.modeWidth = 100000, .modeHeight = 50}, {32768, 50}}));

}  // namespace
}  // namespace quillomir::wayland
