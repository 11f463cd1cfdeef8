#include "pixel_canvas.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace quillomir::wayland {
namespace {

constexpr std::uint32_t kBlue = 0x0000FF;

// Page-aligned pixels, as a mapped buffer's are.
struct Memory {
    Memory(int width, int height) : width(width), height(height) {
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        pixels.reset(static_cast<std::uint32_t*>(
            std::aligned_alloc(PixelCanvas::kPage, (bytes + 4095) / 4096 * 4096)));
        std::fill(pixels.get(), pixels.get() + width * height, 0u);
    }
    int CountOf(std::uint32_t color) const {
        return static_cast<int>(std::count(pixels.get(), pixels.get() + width * height, color));
    }
    int width, height;
    std::unique_ptr<std::uint32_t, decltype(&std::free)> pixels{nullptr, &std::free};
};

TEST(PixelCanvas, ADiscDamagesWhatItChangedAndNothingTheSecondTime) {
    Memory memory(64, 48);
    PixelCanvas canvas(memory.pixels.get(), 64, 48);
    const PixelBox box = canvas.Disc(20.0, 20.0, 8.0, kBlue, kBlue);
    EXPECT_EQ(box, (PixelBox{12, 12, 16, 16}));
    EXPECT_EQ(canvas.At(20, 20), kBlue);
    EXPECT_EQ(canvas.At(12, 12), 0u) << "a corner of the box is outside the disc";
    const int lit = memory.CountOf(kBlue);
    EXPECT_GT(lit, 180);
    EXPECT_LT(lit, 210);
    EXPECT_TRUE(canvas.Disc(20.0, 20.0, 8.0, kBlue, kBlue).empty()) << "same pixels again";

    // The black disc at the same place covers exactly the pixels the blue one lit.
    EXPECT_EQ(canvas.Disc(20.0, 20.0, 8.0, 0, 0), box);
    EXPECT_EQ(memory.CountOf(kBlue), 0);
}

TEST(PixelCanvas, DiscsAreClippedAndTheRimTakesTheOutline) {
    Memory memory(32, 32);
    PixelCanvas canvas(memory.pixels.get(), 32, 32);
    EXPECT_EQ(canvas.Disc(0.0, 0.0, 8.0, kBlue, kBlue), (PixelBox{0, 0, 8, 8}));
    EXPECT_TRUE(canvas.Disc(-20.0, 5.0, 8.0, kBlue, kBlue).empty());
    canvas.Disc(16.0, 16.0, 6.0, kBlue, 0xFF0000);
    EXPECT_EQ(canvas.At(16, 16), kBlue);
    EXPECT_EQ(canvas.At(10, 16), 0xFF0000u);
}

TEST(PixelCanvas, BlackOverBlackReadsNoMemoryAndBlackPagesCanBeGivenBack) {
    // Rows of 1024 pixels: one page a row.
    Memory memory(1024, 64);
    PixelCanvas canvas(memory.pixels.get(), 1024, 64);
    EXPECT_TRUE(canvas.Disc(500.0, 30.0, 8.0, 0, 0).empty());
    EXPECT_EQ(canvas.residentPages(), 0u) << "black on black touched memory";

    canvas.Disc(500.0, 30.0, 8.0, kBlue, kBlue);
    canvas.Fill({0, 60, 4, 1}, kBlue);  // something that stays, on another row
    EXPECT_EQ(canvas.residentPages(), 17u);
    EXPECT_TRUE(canvas.TakeBlackPages().empty()) << "every touched page shows something";
    canvas.Disc(500.0, 30.0, 8.0, 0, 0);
    const std::vector<ByteRange> black = canvas.TakeBlackPages();
    ASSERT_EQ(black.size(), 1u);
    // In one piece: rows 0 to 47, up to the row of tiles that still shows
    // something; rows 61 to 63 were never in memory.
    EXPECT_EQ(black[0], (ByteRange{0, 48 * 4096}));
    EXPECT_EQ(canvas.residentPages(), 1u) << "the row that still shows something";
    EXPECT_TRUE(canvas.TakeBlackPages().empty()) << "given back once";
}

TEST(PixelCanvas, CopyBringsAStaleBufferUpToDate) {
    Memory shownMemory(96, 64), staleMemory(96, 64);
    PixelCanvas shown(shownMemory.pixels.get(), 96, 64);
    PixelCanvas stale(staleMemory.pixels.get(), 96, 64);
    stale.Disc(70.0, 40.0, 8.0, kBlue, kBlue);  // erased since on the shown one
    const PixelBox drawn = shown.Disc(20.0, 20.0, 8.0, kBlue, kBlue);
    stale.CopyFrom(shown, drawn);
    stale.CopyFrom(shown, {62, 32, 16, 16});
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) {
            ASSERT_EQ(stale.At(x, y), shown.At(x, y)) << x << "," << y;
        }
    }
}

TEST(PixelCanvas, ShadeScalesTheColourByCoverage) {
    Memory memory(8, 2);
    PixelCanvas canvas(memory.pixels.get(), 8, 2);
    const std::uint8_t mask[4] = {0, 255, 128, 0};
    EXPECT_EQ(canvas.Shade({2, 1, 4, 1}, mask, 4, 0xFFFFFF), (PixelBox{3, 1, 2, 1}));
    EXPECT_EQ(canvas.At(3, 1), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(4, 1), 0x808080u);
    EXPECT_TRUE(canvas.Shade({2, 1, 4, 1}, mask, 4, 0xFFFFFF).empty());
}

}  // namespace
}  // namespace quillomir::wayland
