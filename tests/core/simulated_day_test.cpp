// A day of the saver's own time: 86,400 movement ticks and a sampling tick
// every ten, the load sweeping 0..100 % and the screen changing between
// 640x480 and 7680x4320. Nothing the form keeps may grow, and no disc may be
// left on the screen behind the crawlet.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>

#include "fakes.h"
#include "saver/frm_main.h"

namespace quillomir {
namespace {

constexpr int kTwipsPerPixel = 15;  // 96 DPI
constexpr int kDaySeconds = 86400;
constexpr int kSecondsPerScreen = 7200;
constexpr std::array<std::pair<int, int>, 6> kScreens{
    {{640, 480}, {7680, 4320}, {1024, 768}, {3840, 2160}, {1920, 1080}, {2560, 1440}}};

// The screen as it would look: a coloured disc lights its place and a black
// one at the same place puts it out. Keeps only what is lit, not a history.
class ScreenModel : public DrawingSurface {
  public:
    void Resize(int widthPx, int heightPx) {
        width_ = static_cast<float>(widthPx * kTwipsPerPixel);
        height_ = static_cast<float>(heightPx * kTwipsPerPixel);
        lit.clear();  // the window is cleared and repainted
    }
    void SetFillColor(ColorValue color) override { fill_ = color; }
    void DrawCircle(float x, float y, float, ColorValue outline) override {
        ++circles;
        if (fill_ == kBlack && outline == kBlack) {
            lit.erase(Key(x, y));
        } else {
            lit.insert(Key(x, y));
        }
    }
    float ScaleWidth() const override { return width_; }
    float ScaleHeight() const override { return height_; }

    static std::uint64_t Key(float x, float y) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(static_cast<int>(x))) << 32) |
               static_cast<std::uint32_t>(static_cast<int>(y));
    }

    std::unordered_set<std::uint64_t> lit;
    int circles = 0;

  private:
    float width_ = 0, height_ = 0;
    ColorValue fill_ = kBlack;
};

// The load of the minute: a ramp from 0 to 100 % and down again, every 200 minutes.
int LoadOfMinute(int minute) {
    const int phase = minute % 200;
    return phase <= 100 ? phase : 200 - phase;
}

TEST(SimulatedDay, StateStaysBoundedAndNoDiscIsLeftBehind) {
    fakes::FakeSaverHost host;
    fakes::InMemorySettings settings;
    settings.Put("DisplayValue", "1");
    fakes::ScriptedCounters counters;
    counters.processors = 2;
    fakes::ScriptedMemory memory;
    ScreenModel screen;
    screen.Resize(kScreens[0].first, kScreens[0].second);
    frmMain form(host, screen, settings, counters, memory);
    form.Load();
    const Crawlet& c = form.crawlet;
    const LoadSampler& s = form.sampler;
    const std::int32_t reach = 7680 * kTwipsPerPixel + 2 * kStartStep;  // the widest screen

    int averages = 0;
    for (int second = 1; second <= kDaySeconds; ++second) {
        if (second % kSecondsPerScreen == 0) {
            const auto [w, h] = kScreens[(second / kSecondsPerScreen) % kScreens.size()];
            // Two hours on the last screen: the head is back on it, whatever it was given.
            const auto x = static_cast<float>(c.SegmentPos[0].x);
            const auto y = static_cast<float>(c.SegmentPos[0].y);
            ASSERT_GE(x, -2 * kStartStep) << second;
            ASSERT_LE(x, screen.ScaleWidth() + 2 * kStartStep) << second;
            ASSERT_GE(y, -2 * kStartStep) << second;
            ASSERT_LE(y, screen.ScaleHeight() + 2 * kStartStep) << second;
            screen.Resize(w, h);
            form.Paint(screen);
        }
        screen.circles = 0;
        form.TimerTick(SaverTimer::Timer1);
        // The erase from index 105 down to the length, the repair and the head;
        // on screen, the chain's discs only.
        ASSERT_LE(screen.circles, Crawlet::kEraseFrom - 4 + 3) << second;
        ASSERT_LE(screen.lit.size(), static_cast<std::size_t>(c.SafeLength()) + 1) << second;
        if (second % 10 == 0) {
            // Ten seconds of two processors at the minute's load, in 100-ns units.
            const std::int64_t elapsed = 10'000'000;
            counters.Advance(2 * elapsed * (100 - LoadOfMinute(second / 60)) / 100, elapsed);
            form.TimerTick(SaverTimer::Timer2);
            averages += second % 60 == 0 ? 1 : 0;
        }
        ASSERT_GE(c.CrawletLength, 4) << second;
        ASSERT_LE(c.CrawletLength, 105) << second;
        ASSERT_LE(std::abs(c.SegmentPos[0].x), reach) << second;
        ASSERT_LE(std::abs(c.SegmentPos[0].y), reach) << second;
        ASSERT_GE(s.SampleCount, 0);
        ASSERT_LT(s.SampleCount, kSamplesPerAverage) << second;
        ASSERT_GE(s.SampleSum, kMinSample * kSamplesPerAverage) << second;
        ASSERT_LE(s.SampleSum, kMaxSample * kSamplesPerAverage) << second;
    }

    // Every lit disc is one of the chain's, so the screen holds the crawlet only.
    std::unordered_set<std::uint64_t> chain;
    for (int i = 0; i <= c.SafeLength(); ++i) {
        chain.insert(ScreenModel::Key(static_cast<float>(c.SegmentPos[i].x),
                                      static_cast<float>(c.SegmentPos[i].y)));
    }
    for (const std::uint64_t key : screen.lit) {
        EXPECT_TRUE(chain.count(key)) << "a disc left behind at " << (key >> 32) << ","
                                      << static_cast<std::int32_t>(key & 0xFFFFFFFF);
    }
    // One caption a minute, each the short "N %", and the load's whole range was seen.
    ASSERT_EQ(host.captions.size(), static_cast<std::size_t>(1 + averages));
    int lowest = 100, highest = 0;
    for (std::size_t i = 1; i < host.captions.size(); ++i) {
        ASSERT_LE(host.captions[i].size(), 5U) << host.captions[i];
        const int value = std::stoi(host.captions[i]);
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 100);
    // Nothing was started twice, shown or hidden again, or closed.
    EXPECT_EQ(host.timers.size(), 2U);
    EXPECT_EQ(host.pointerShows, 0);
    EXPECT_EQ(host.closes, 0);
    EXPECT_TRUE(host.fatal.empty());
}

}  // namespace
}  // namespace quillomir
