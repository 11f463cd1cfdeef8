#include "crawlet_surface.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace quillomir::wayland {
namespace {

constexpr ColorValue kRed = 255;  // 0x00BBGGRR
constexpr std::uint32_t kRedPixel = 0xFF0000;

// A buffer on plain memory that the test releases by hand, as a compositor would.
class FakeBuffer : public FrameBuffer {
  public:
    FakeBuffer(int width, int height) : width_(width), height_(height) {
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        memory_ =
            static_cast<std::uint32_t*>(std::aligned_alloc(4096, (bytes + 4095) / 4096 * 4096));
        std::fill(memory_, memory_ + static_cast<std::size_t>(width) * height, 0u);
    }
    ~FakeBuffer() override { std::free(memory_); }

    wl_buffer* buffer() const override { return reinterpret_cast<wl_buffer*>(memory_); }
    std::uint32_t* pixels() const override { return memory_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    bool busy() const override { return busy_; }
    void MarkBusy() override { busy_ = true; }
    void GiveBack(std::size_t offset, std::size_t length) override {
        ASSERT_FALSE(busy_) << "gave back a shown buffer";
        givenBack.push_back({offset, length});
    }

    std::vector<ByteRange> givenBack;

    void Release() { busy_ = false; }
    std::uint32_t At(int x, int y) const { return memory_[y * width_ + x]; }

  private:
    std::uint32_t* memory_;
    int width_, height_;
    bool busy_ = false;
};

struct Made {
    std::vector<FakeBuffer*> buffers;
    FrameBufferMaker Maker() {
        return [this](int width, int height, std::string&) {
            auto made = std::make_unique<FakeBuffer>(width, height);
            buffers.push_back(made.get());
            return std::unique_ptr<FrameBuffer>(std::move(made));
        };
    }
};

FakeBuffer* Shown(const Made& made, const CrawletSurface::Frame& frame) {
    for (FakeBuffer* buffer : made.buffers) {
        if (buffer->buffer() == frame.buffer) {
            return buffer;
        }
    }
    return nullptr;
}

// A surface on fake buffers, sized, whose first frame (the whole surface) is taken.
class CrawletSurfaceTest : public testing::Test {
  protected:
    std::optional<CrawletSurface::Frame> Start(int width, int height, int scale) {
        surface.UseBuffers(made.Maker());
        surface.Resize(width, height, scale);
        return surface.TakeFrame(error);
    }

    Made made;
    CrawletSurface surface;
    std::string error;
};

// A disc of 120 twips (8 pixels at scale 1) centred at (x, y) pixels.
void Disc(CrawletSurface& surface, int x, int y, ColorValue color) {
    surface.SetFillColor(color);
    surface.DrawCircle(static_cast<float>(x * 15), static_cast<float>(y * 15), 120.0f, color);
}

TEST_F(CrawletSurfaceTest, AFrameOnlyWhenSomethingChangedDamagingWhatChanged) {
    const auto first = Start(100, 80, 1);
    EXPECT_EQ(surface.ScaleWidth(), 1500.0f);
    ASSERT_TRUE(first) << "the first frame shows the whole surface";
    ASSERT_EQ(first->damage.size(), 1u);
    EXPECT_EQ(first->damage[0], (PixelBox{0, 0, 100, 80}));
    Shown(made, *first)->Release();

    Disc(surface, 40, 40, kBlack);  // black over black
    EXPECT_FALSE(surface.TakeFrame(error)) << "a frame for nothing";

    Disc(surface, 40, 40, kRed);
    const auto red = surface.TakeFrame(error);
    ASSERT_TRUE(red);
    ASSERT_EQ(red->damage.size(), 1u);
    EXPECT_EQ(red->damage[0], (PixelBox{32, 32, 16, 16}));
    EXPECT_EQ(Shown(made, *red)->At(40, 40), kRedPixel);
    EXPECT_EQ(made.buffers.size(), 1u) << "a released buffer is used again";
}

TEST_F(CrawletSurfaceTest, ABusyBufferIsNeverDrawnOnAndTheOtherIsBroughtUpToDate) {
    ASSERT_TRUE(Start(100, 80, 1));  // the first buffer stays busy from here on

    Disc(surface, 20, 20, kRed);
    const auto second = surface.TakeFrame(error);
    ASSERT_TRUE(second);
    ASSERT_EQ(made.buffers.size(), 2u);
    FakeBuffer* a = made.buffers[0];
    FakeBuffer* b = made.buffers[1];
    EXPECT_EQ(Shown(made, *second), b);
    EXPECT_EQ(a->At(20, 20), 0u) << "drew on the buffer the compositor holds";

    Disc(surface, 60, 50, kRed);
    EXPECT_FALSE(surface.TakeFrame(error)) << "both are busy: the drawing must wait";
    EXPECT_EQ(made.buffers.size(), 2u);

    a->Release();
    const auto third = surface.TakeFrame(error);
    ASSERT_TRUE(third);
    EXPECT_EQ(Shown(made, *third), a);
    // The first buffer has what the second showed, and the drawing that waited.
    EXPECT_EQ(a->At(20, 20), kRedPixel);
    EXPECT_EQ(a->At(60, 50), kRedPixel);
    ASSERT_EQ(third->damage.size(), 1u) << "damage is what changed since the last frame";
    EXPECT_EQ(third->damage[0], (PixelBox{52, 42, 16, 16}));
}

TEST_F(CrawletSurfaceTest, TwipsAreLaidOutAt96DpiTimesTheScale) {
    Start(100, 80, 2);
    EXPECT_EQ(surface.ScaleWidth(), 1500.0f) << "twips follow the surface, not the buffer";
    EXPECT_EQ(CrawletSurface::ToTwips(10.5), 158);
    made.buffers[0]->Release();
    Disc(surface, 40, 40, kRed);
    const auto frame = surface.TakeFrame(error);
    ASSERT_TRUE(frame);
    FakeBuffer* shown = Shown(made, *frame);
    EXPECT_EQ(shown->width(), 200);
    ASSERT_EQ(frame->damage.size(), 1u);
    EXPECT_EQ(frame->damage[0], (PixelBox{64, 64, 32, 32})) << "a 16-pixel radius at scale 2";
}

TEST_F(CrawletSurfaceTest, PagesBeyondTheAllowanceAreGivenBackWhereTheyShowNothing) {
    // Rows of 1024 pixels: a page a row, and an allowance of 64 pages.
    Start(1024, 400, 1);
    FakeBuffer* buffer = made.buffers[0];
    buffer->Release();
    Disc(surface, 100, 30, kRed);  // stays
    for (int y = 60; y < 390; y += 16) {
        Disc(surface, 500, y, kRed);
        Disc(surface, 500, y, kBlack);
    }
    ASSERT_TRUE(surface.TakeFrame(error));
    ASSERT_FALSE(buffer->givenBack.empty()) << "the pages drawn and erased were kept";
    for (const ByteRange& range : buffer->givenBack) {
        const std::size_t firstRow = range.offset / 4096;
        const std::size_t endRow = (range.offset + range.length) / 4096;
        EXPECT_TRUE(endRow <= 16 || firstRow >= 48) << "gave back the rows of the red disc";
    }
    EXPECT_EQ(buffer->At(100, 30), kRedPixel);
}

TEST_F(CrawletSurfaceTest, DrawingThatWaitsTooLongForABufferIsDroppedForARepaint) {
    Start(100, 80, 1);
    Disc(surface, 20, 20, kRed);
    surface.TakeFrame(error);  // both buffers are now held, and never released
    for (int tick = 0; tick < 300 && !surface.overflowed(); ++tick) {
        for (int disc = 0; disc < 106; ++disc) {
            Disc(surface, 20 + tick % 50, 20, kRed);
        }
    }
    ASSERT_TRUE(surface.overflowed()) << "what waits for a buffer grows without end";
    surface.Resize(100, 80, 1);
    EXPECT_FALSE(surface.overflowed());
    EXPECT_TRUE(surface.TakeFrame(error)) << "the repaint shows the whole surface";
}

}  // namespace
}  // namespace quillomir::wayland
