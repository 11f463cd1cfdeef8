// the movement tick turns the heading at the edges the head moves towards.
#include <gtest/gtest.h>

#include <algorithm>

#include "crawlet/crawlet.h"
#include "fakes.h"

namespace quillomir {
namespace {

using fakes::RecordingSurface;

Crawlet StartedCrawlet(SegmentPoint head, std::int16_t direction) {
    Crawlet c;
    c.SegmentPos[0] = head;
    c.SegmentRadius = 120;
    c.StepSize = 105;
    c.CrawletLength = 5;
    c.Direction = direction;
    return c;
}

TEST(BounceTick, TurnsAfterTheStepHorizontalFirstAndInclusive) {
    struct Case {
        std::int16_t before;
        SegmentPoint head;  // before the step
        float width, height;
        SegmentPoint after;
        std::int16_t direction;
    };
    const Case cases[] = {
        {UpRight, {850, 300}, 900, 5000, {955, 195}, UpLeft},      // a right edge at 900 twips
        {UpLeft, {50, 40}, 900, 5000, {-55, -65}, UpRight},        // corner: horizontal only
        {DownRight, {400, 895}, 900, 1000, {505, 1000}, UpRight},  // exactly on the bottom
        {DownRight, {400, 894}, 900, 1000, {505, 999}, DownRight},
        {UpRight, {795, 400}, 900, 1000, {900, 295}, UpLeft},  // exactly on the right
        {UpRight, {794, 400}, 900, 1000, {899, 295}, UpRight},
        {UpRight, {400, 105}, 900, 1000, {505, 0}, DownRight},  // exactly on the top
        {UpLeft, {400, 105}, 900, 1000, {295, 0}, DownLeft},
        {UpLeft, {105, 400}, 900, 1000, {0, 295}, UpRight},  // exactly on the left
        {DownLeft, {105, 400}, 900, 1000, {0, 505}, DownRight},
        {DownLeft, {400, 895}, 900, 1000, {295, 1000}, UpLeft},
        {DownRight, {795, 895}, 900, 1000, {900, 1000}, DownLeft},  // corner
        // Only the edges moved towards are tested: far outside the others, no turn.
        {DownRight, {-500, -500}, 900, 1000, {-395, -395}, DownRight},
        {UpLeft, {5000, 5000}, 900, 1000, {4895, 4895}, UpLeft},
    };
    for (const Case& k : cases) {
        Crawlet c = StartedCrawlet(k.head, k.before);
        RecordingSurface surface(k.width, k.height);
        c.BounceTick(surface, 255);
        SCOPED_TRACE(testing::Message() << k.before << " from " << k.head.x << "," << k.head.y);
        EXPECT_EQ(c.SegmentPos[0], k.after);
        EXPECT_EQ(c.Direction, k.direction);
    }
}

TEST(BounceTick, TheCornerTurnsVerticallyOnTheNextTick) {
    Crawlet c = StartedCrawlet({50, 40}, UpLeft);
    RecordingSurface surface(900, 5000);
    c.BounceTick(surface, 255);
    EXPECT_EQ(c.Direction, UpRight);
    c.BounceTick(surface, 255);
    EXPECT_EQ(c.SegmentPos[0], (SegmentPoint{50, -170}));
    EXPECT_EQ(c.Direction, DownRight);
}

TEST(BounceTick, AWindowNoWiderThanAStepStillBouncesVertically) {
    // Such a window meets a side edge every tick; the vertical edge must still
    // turn the head, or it walks away for good.
    for (const float width : {0.0f, 15.0f, 105.0f}) {
        Crawlet c = StartedCrawlet({static_cast<std::int32_t>(width / 2), 360}, UpRight);
        RecordingSurface surface(width, 720);
        for (int tick = 0; tick < 2000; ++tick) {
            c.BounceTick(surface, 255);
            ASSERT_GE(c.SegmentPos[0].y, -2 * 105) << "width " << width << ", tick " << tick;
            ASSERT_LE(c.SegmentPos[0].y, 720 + 2 * 105) << "width " << width << ", tick " << tick;
        }
    }
    // A window just wider than a step keeps the horizontal-first rule: the
    // corner turns only horizontally on the tick it is crossed.
    Crawlet c = StartedCrawlet({100, 50}, UpRight);
    RecordingSurface surface(106, 720);
    c.BounceTick(surface, 255);
    EXPECT_EQ(c.SegmentPos[0], (SegmentPoint{205, -55}));
    EXPECT_EQ(c.Direction, UpLeft);
}

TEST(BounceTick, AnInvalidHeadingNeitherMovesNorDraws) {
    for (const std::int16_t direction : std::initializer_list<std::int16_t>{0, 5, -1}) {
        Crawlet c = StartedCrawlet({500, 500}, direction);
        RecordingSurface surface;
        c.BounceTick(surface, 255);
        EXPECT_TRUE(surface.ops.empty());
        EXPECT_EQ(c.SegmentPos[0], (SegmentPoint{500, 500}));
    }
}

// 3840 x 2160 px at 96 DPI: coordinates beyond 32767, which 16-bit twips would wrap.
TEST(BounceTick, A4kScreenBouncesAtItsRealEdges) {
    constexpr float kWidth = 57600, kHeight = 32400;
    RecordingSurface surface(kWidth, kHeight);

    Crawlet first = StartedCrawlet({28800, 16200}, DownRight);
    for (int tick = 1; tick <= 154; ++tick) {
        first.BounceTick(surface, 255);
        ASSERT_EQ(first.Direction, DownRight) << tick;
    }
    first.BounceTick(surface, 255);
    EXPECT_EQ(first.SegmentPos[0], (SegmentPoint{45075, 32475}));
    EXPECT_EQ(first.Direction, UpRight);

    for (const std::int16_t direction : {UpRight, DownRight, DownLeft, UpLeft}) {
        Crawlet c = StartedCrawlet({28800, 16200}, direction);
        SegmentPoint low = c.SegmentPos[0], high = c.SegmentPos[0];
        int turns = 0;
        for (int tick = 0; tick < 3000; ++tick) {
            const std::int16_t before = c.Direction;
            surface.ops.clear();
            c.BounceTick(surface, 255);
            const SegmentPoint h = c.SegmentPos[0];
            low = {std::min(low.x, h.x), std::min(low.y, h.y)};
            high = {std::max(high.x, h.x), std::max(high.y, h.y)};
            if (c.Direction != before) {
                ++turns;
                // A turn only where the head has reached or crossed an edge.
                EXPECT_TRUE(h.x <= 0 || h.y <= 0 || h.x >= 57600 || h.y >= 32400)
                    << h.x << "," << h.y;
            }
        }
        SCOPED_TRACE(direction);
        EXPECT_GT(turns, 10);
        EXPECT_GT(low.x, -105 * 2);
        EXPECT_GT(low.y, -105 * 2);
        EXPECT_LT(high.x, 57600 + 105 * 2);
        EXPECT_LT(high.y, 32400 + 105 * 2);
        EXPECT_GE(high.x, 57600);  // it reaches the far edges, not wrapped ones
        EXPECT_GE(high.y, 32400);
        EXPECT_LE(low.x, 0);
        EXPECT_LE(low.y, 0);
    }
}

}  // namespace
}  // namespace quillomir
