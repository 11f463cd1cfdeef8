// the saver window's load, input rules, timers and unload.
#include "saver/frm_main.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <tuple>

#include "fakes.h"

namespace quillomir {
namespace {

using fakes::FakeSaverHost;
using fakes::InMemorySettings;
using fakes::RecordingSurface;
using fakes::ScriptedCounters;
using fakes::ScriptedMemory;

class FrmMainTest : public ::testing::Test {
  protected:
    frmMain& Load() {
        form = std::make_unique<frmMain>(host, surface, settings, counters, memory);
        form->Load();
        return *form;
    }
    void Ticks(SaverTimer timer, int n) {
        for (int i = 0; i < n; ++i) {
            form->TimerTick(timer);
        }
    }

    FakeSaverHost host;
    RecordingSurface surface{961, 721};
    InMemorySettings settings;
    ScriptedCounters counters;
    ScriptedMemory memory;
    std::unique_ptr<frmMain> form;
};

TEST_F(FrmMainTest, LoadWithNoSettingsAndUnload) {
    counters.idle = 777;
    counters.system = 999;
    frmMain& f = Load();
    EXPECT_EQ(f.CrawletColor, 16711680);
    EXPECT_EQ(f.sampler.CrawletMethod, 1);
    EXPECT_EQ(f.DisplayValue, 0);
    EXPECT_FALSE(host.labelVisible);
    EXPECT_EQ(host.captions, std::vector<std::string>{"Averaging data over 60 seconds..."});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"visible", "cover", "topmost"}));
    EXPECT_EQ(f.crawlet.SegmentPos[0], (SegmentPoint{480, 360}));  // 480.5, 360.5 to even
    EXPECT_EQ(f.crawlet.SegmentRadius, 120);
    EXPECT_EQ(f.crawlet.StepSize, 105);
    EXPECT_EQ(f.crawlet.CrawletLength, 5);
    EXPECT_GE(f.crawlet.Direction, 1);
    EXPECT_LE(f.crawlet.Direction, 4);
    EXPECT_EQ(host.pointerHides, 6);
    EXPECT_EQ(host.displayCount, -6);
    EXPECT_EQ(host.timers, (std::vector<std::pair<SaverTimer, std::uint32_t>>{
                               {SaverTimer::Timer1, 1000}, {SaverTimer::Timer2, 10000}}));
    ASSERT_NE(f.Meter, nullptr);
    EXPECT_EQ(f.Meter->OldIdleTime(), FixedPoint::FromRaw(777));  // the baseline was taken
    EXPECT_EQ(f.sampler.SampleCount, 0);
    EXPECT_EQ(f.sampler.SampleSum, 0);
    EXPECT_TRUE(surface.ops.empty());

    const SegmentPoint head = f.crawlet.SegmentPos[0];
    Ticks(SaverTimer::Timer1, 1);  // draws in the crawlet's colour, the corner first
    EXPECT_EQ(surface.CirclesOf(kBlack), 101);
    EXPECT_EQ(surface.CirclesOf(16711680), 2);
    EXPECT_EQ(surface.ops[surface.ops.size() - 2], fakes::Circle(0, 0, 16711680));
    EXPECT_EQ(f.crawlet.SegmentPos[1], head);

    surface.ops.clear();
    f.Unload();
    EXPECT_GT(host.displayCount, 5);
    EXPECT_EQ(f.Meter, nullptr);
    f.Unload();  // a second unload changes nothing
    EXPECT_EQ(host.displayCount, 6);
    Ticks(SaverTimer::Timer1, 3);
    Ticks(SaverTimer::Timer2, 6);
    EXPECT_TRUE(surface.ops.empty());
    EXPECT_EQ(host.captions.size(), 1u);
}

TEST_F(FrmMainTest, StoredSettingsAreUsed) {
    settings.Put("DisplayValue", "1");
    settings.Put("CrawletMethod", "2");
    settings.Put("CrawletColor", "255");
    frmMain& f = Load();
    EXPECT_TRUE(host.labelVisible);
    EXPECT_EQ(f.sampler.CrawletMethod, 2);
    EXPECT_EQ(f.CrawletColor, 255);

    settings.Put("DisplayValue", "-3");
    settings.Put("CrawletColor", "0x10");
    EXPECT_EQ(Load().DisplayValue, -3);
    EXPECT_TRUE(host.labelVisible);
    EXPECT_EQ(form->CrawletColor, 16711680);
}

TEST_F(FrmMainTest, TheHeadingIsSeededFromTheTimeOfDayAndTheHeadCentred) {
    surface = RecordingSurface(57600, 32400);
    std::set<int> seen;
    for (std::int32_t seconds = 0; seconds < 86400; seconds += 1201) {
        host.seconds = seconds;
        const std::int16_t direction = Load().crawlet.Direction;
        seen.insert(direction);
        EXPECT_EQ(Load().crawlet.Direction, direction) << seconds;  // same seed, same heading
        EXPECT_EQ(form->crawlet.SegmentPos[0], (SegmentPoint{28800, 16200}));
    }
    EXPECT_EQ(seen, (std::set<int>{1, 2, 3, 4}));
}

TEST_F(FrmMainTest, TheCentreRoundsHalvesToTheEvenNeighbour) {
    // Halves that end in .5 go to the even neighbour: down from 480.5, up from
    // 481.5, so neither a floor nor a round-half-up gives both.
    const std::tuple<float, float, SegmentPoint> cases[] = {
        {961, 721, {480, 360}},
        {963, 723, {482, 362}},
        {962, 724, {481, 362}},
    };
    for (const auto& [width, height, head] : cases) {
        surface = RecordingSurface(width, height);
        EXPECT_EQ(Load().crawlet.SegmentPos[0], head) << width << " x " << height;
    }
}

TEST_F(FrmMainTest, MethodThreeAveragesMakeTopMostsResult) {
    settings.Put("CrawletMethod", "3");
    host.topMostResult = 1;
    frmMain& f = Load();
    EXPECT_EQ(f.sampler.SampleValue, 1);
    for (int tick = 1; tick <= 5; ++tick) {
        Ticks(SaverTimer::Timer2, 1);
        EXPECT_EQ(host.captions.size(), 1u) << tick;  // ticks 1 to 5 change nothing visible
        EXPECT_EQ(f.crawlet.CrawletLength, 5);
    }
    Ticks(SaverTimer::Timer2, 1);
    EXPECT_EQ(host.captions.back(), "1 %");
    EXPECT_EQ(f.crawlet.CrawletLength, 6);
    Ticks(SaverTimer::Timer1, 1);
    EXPECT_EQ(surface.CirclesOf(kBlack), 100);  // the next movement tick uses the new length
    Ticks(SaverTimer::Timer2, 11);
    EXPECT_EQ(host.captions, (std::vector<std::string>{host.captions[0], "1 %", "1 %"}));
}

TEST_F(FrmMainTest, CpuMethodSetsLengthAndCaptionOnceAMinute) {
    frmMain& f = Load();
    for (int tick = 1; tick <= 12; ++tick) {
        counters.Advance(tick <= 6 ? 250 : 900, 1000);
        Ticks(SaverTimer::Timer2, 1);
        EXPECT_EQ(host.captions.size(), static_cast<std::size_t>(1 + tick / 6)) << tick;
    }
    EXPECT_EQ(host.captions[1], "75 %");
    EXPECT_EQ(host.captions[2], "10 %");
    EXPECT_EQ(f.crawlet.CrawletLength, 15);
}

TEST_F(FrmMainTest, InvalidMethodIsFatalOnTheFirstSamplingTick) {
    settings.Put("CrawletMethod", "7");
    Load();
    Ticks(SaverTimer::Timer1, 1);
    EXPECT_FALSE(surface.ops.empty());
    EXPECT_TRUE(host.fatal.empty());
    Ticks(SaverTimer::Timer2, 1);
    EXPECT_EQ(host.fatal, std::vector<std::string>{"Unknown Monitor Method Type."});
    surface.ops.clear();
    Ticks(SaverTimer::Timer1, 5);
    Ticks(SaverTimer::Timer2, 5);
    EXPECT_TRUE(surface.ops.empty());
    EXPECT_EQ(host.fatal.size(), 1u);
    EXPECT_EQ(host.closes, 0);
}

TEST_F(FrmMainTest, KeyAndMouseDownCloseOnce) {
    for (const int first : {0, 1}) {
        Load();
        first == 0 ? form->KeyDown() : form->MouseDown(5000, 5000);
        EXPECT_EQ(host.closes, 1);
        form->KeyDown();
        form->MouseDown(10, 10);
        form->MouseMove(1, 1);
        EXPECT_EQ(host.closes, 1);
        host.closes = 0;
    }
}

TEST_F(FrmMainTest, MouseMovesCountDistinctPositionsAwayFromTheVisibleLabel) {
    using Moves = std::vector<std::pair<std::int32_t, std::int32_t>>;
    const Moves six{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}};
    const Moves onLabel{{240, 240}, {3611, 491}, {1000, 300}, {241, 240}, {3000, 400}, {240, 491}};
    const Moves offLabel{{239, 300}, {3612, 300}, {1000, 239}, {1000, 492}, {0, 0}, {3700, 300}};
    struct Case {
        const char* name;
        const char* displayValue;
        Moves moves;
        std::int16_t counted;
    };
    const Case cases[] = {
        {"five moves", "0", Moves(six.begin(), six.begin() + 5), 5},
        {"six moves", "0", six, 6},
        {"repeated position", "0", Moves(8, {7, 7}), 1},
        {"back and forth", "0", {{1, 1}, {2, 2}, {1, 1}, {2, 2}, {1, 1}}, 5},
        {"over the visible label", "1", onLabel, 0},
        {"round the visible label", "1", offLabel, 6},
        {"over the hidden label", "0", onLabel, 6},
        {"out, onto the label, back", "1", {{1, 1}, {300, 300}, {1, 1}, {300, 300}, {1, 1}}, 3},
    };
    for (const Case& k : cases) {
        settings.Put("DisplayValue", k.displayValue);
        host.closes = 0;
        Load();
        for (std::size_t i = 0; i < k.moves.size(); ++i) {
            form->MouseMove(k.moves[i].first, k.moves[i].second);
            if (i + 1 < k.moves.size()) {
                EXPECT_EQ(host.closes, 0) << k.name << ", move " << i + 1;
            }
        }
        EXPECT_EQ(form->MouseMoves, k.counted) << k.name;
        EXPECT_EQ(host.closes, k.counted > 5 ? 1 : 0) << k.name;
    }
}

TEST_F(FrmMainTest, ThePointersPlaceWhenTheWindowAppearsIsNotAMove) {
    form = std::make_unique<frmMain>(host, surface, settings, counters, memory);
    form->NotePointer(500, 500);
    form->Load();
    form->MouseMove(500, 500);  // what Windows sends as the window appears
    EXPECT_EQ(form->MouseMoves, 0);
    for (std::int32_t x = 501; x <= 506; ++x) {
        form->MouseMove(x, 500);
    }
    EXPECT_EQ(form->MouseMoves, 6);
    EXPECT_EQ(host.closes, 1);
}

TEST_F(FrmMainTest, AClickOnTheVisibleLabelDoesNotClose) {
    settings.Put("DisplayValue", "1");
    Load();
    form->MouseDown(240, 240);
    form->MouseDown(3611, 491);
    EXPECT_EQ(host.closes, 0);
    form->MouseDown(3612, 491);
    EXPECT_EQ(host.closes, 1);

    settings.Put("DisplayValue", "0");
    host.closes = 0;
    Load().MouseDown(240, 240);
    EXPECT_EQ(host.closes, 1);
}

TEST_F(FrmMainTest, AnEmptySurfaceSurvivesManyTicks) {
    surface = RecordingSurface(0, 0);
    for (const char* method : {"1", "2", "3"}) {
        settings.Put("CrawletMethod", method);
        memory.readings = {MemoryStatus{800, 300}};
        frmMain& f = Load();
        EXPECT_EQ(f.crawlet.SegmentPos[0], (SegmentPoint{0, 0}));
        for (int tick = 0; tick < 4000; ++tick) {
            surface.ops.clear();
            counters.Advance(tick % 7, tick % 3);
            f.TimerTick(tick % 10 == 0 ? SaverTimer::Timer2 : SaverTimer::Timer1);
            ASSERT_LE(std::abs(f.crawlet.SegmentPos[0].x), 105);
        }
        EXPECT_GE(f.crawlet.CrawletLength, 4);
        EXPECT_LE(f.crawlet.CrawletLength, 105);
    }
}

}  // namespace
}  // namespace quillomir
