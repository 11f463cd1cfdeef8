// MoveCrawlet's erase, repair, shift, step and draw.
#include "crawlet/crawlet.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes.h"

namespace quillomir {
namespace {

using fakes::Circle;
using fakes::DrawOp;
using fakes::Fill;
using fakes::RecordingSurface;

constexpr ColorValue kRed = 255;

// Every entry at a distinct position: entry i at (1000 + i, 2000 + 2 i).
Crawlet MarkedCrawlet(std::int16_t length, std::int16_t direction = UpRight) {
    Crawlet c;
    for (int i = 0; i < Crawlet::kSegmentCount; ++i) {
        c.SegmentPos[i] = {1000 + i, 2000 + 2 * i};
    }
    c.SegmentRadius = 120;
    c.StepSize = 105;
    c.CrawletLength = length;
    c.Direction = direction;
    return c;
}

DrawOp At(const SegmentPoint& p, ColorValue outline) {
    return Circle(static_cast<float>(p.x), static_cast<float>(p.y), outline);
}

TEST(MoveCrawlet, LengthFiveDrawsTheExactSequence) {
    Crawlet c = MarkedCrawlet(5);
    const auto before = c.SegmentPos;
    RecordingSurface surface;
    c.MoveCrawlet(surface, kRed);

    std::vector<DrawOp> expected{Fill(kBlack)};
    for (int i = 105; i >= 5; --i) {
        expected.push_back(At(before[i], kBlack));
    }
    expected.push_back(Fill(kRed));
    expected.push_back(At(before[4], kRed));
    expected.push_back(Circle(1000 + 105, 2000 - 105, kRed));
    EXPECT_EQ(surface.ops, expected);

    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(c.SegmentPos[i], before[i - 1]) << i;
    }
    EXPECT_EQ(c.SegmentPos[6], before[6]);  // beyond the length: untouched
}

TEST(MoveCrawlet, ErasesFromEntry105DownToTheLength) {
    struct Case {
        std::int16_t length;
        int erased;       // black circles, entries 105 down to the clamped length
        int repairEntry;  // entry repaired in the crawlet's colour
    };
    const Case cases[] = {
        {5, 101, 4},
        {20, 86, 19},
        {104, 2, 103},
        {105, 1, 104},
        {106, 0, 105},
        {110, 0, 109},
        // Outside 1..110 the length is clamped before it indexes the table.
        {0, 105, 0},
        {-7, 105, 0},
        {111, 0, 109},
        {32767, 0, 109},
    };
    for (const Case& k : cases) {
        Crawlet c = MarkedCrawlet(k.length);
        const auto before = c.SegmentPos;
        RecordingSurface surface;
        c.MoveCrawlet(surface, kRed);
        SCOPED_TRACE(k.length);
        ASSERT_EQ(surface.ops.size(), static_cast<std::size_t>(k.erased + 4));
        EXPECT_EQ(surface.CirclesOf(kBlack), k.erased);
        if (k.erased > 0) {
            EXPECT_EQ(surface.ops[1], At(before[105], kBlack));
            EXPECT_EQ(surface.ops[k.erased], At(before[105 - k.erased + 1], kBlack));
        }
        EXPECT_EQ(surface.ops[k.erased + 2], At(before[k.repairEntry], kRed));
    }
}

TEST(MoveCrawlet, ShrinkingErasesTheWholeSurplusInOneTick) {
    Crawlet c = MarkedCrawlet(60);
    RecordingSurface surface;
    for (int i = 0; i < 70; ++i) {
        c.MoveCrawlet(surface, kRed);
    }
    const auto before = c.SegmentPos;
    c.CrawletLength = 20;
    surface.ops.clear();
    c.MoveCrawlet(surface, kRed);
    ASSERT_EQ(surface.CirclesOf(kBlack), 86);
    for (int i = 105; i >= 20; --i) {
        EXPECT_EQ(surface.ops[static_cast<std::size_t>(106 - i)], At(before[i], kBlack)) << i;
    }
}

TEST(MoveCrawlet, TheHeadStepsDiagonallyByDirection) {
    const std::pair<std::int16_t, SegmentPoint> cases[] = {
        {UpRight, {605, 395}},
        {DownRight, {605, 605}},
        {DownLeft, {395, 605}},
        {UpLeft, {395, 395}},
    };
    for (const auto& [direction, head] : cases) {
        Crawlet c = MarkedCrawlet(5, direction);
        c.SegmentPos[0] = {500, 500};
        RecordingSurface surface;
        c.MoveCrawlet(surface, kRed);
        EXPECT_EQ(c.SegmentPos[0], head) << direction;
        EXPECT_EQ(c.SegmentPos[1], (SegmentPoint{500, 500}));
        EXPECT_EQ(surface.ops.back(), At(head, kRed));
    }
}

TEST(MoveCrawlet, AfterStartTheCornerIsColouredForFourTicksThenErased) {
    Crawlet c;  // all entries (0, 0)
    c.SegmentPos[0] = {4800, 3600};
    c.SegmentRadius = 120;
    c.StepSize = 105;
    c.CrawletLength = 5;
    c.Direction = DownRight;
    for (int tick = 1; tick <= 5; ++tick) {
        RecordingSurface surface;
        c.MoveCrawlet(surface, kRed);
        const DrawOp* lastAtCorner = nullptr;
        for (const DrawOp& op : surface.ops) {
            if (op.isCircle && op.x == 0 && op.y == 0) {
                lastAtCorner = &op;
            }
        }
        ASSERT_NE(lastAtCorner, nullptr) << tick;
        EXPECT_EQ(lastAtCorner->color, tick <= 4 ? kRed : kBlack) << tick;
        if (tick == 1) {
            EXPECT_EQ(surface.ops[surface.ops.size() - 2], Circle(0, 0, kRed));
        }
    }
}

TEST(MoveCrawlet, TheHeadSaturatesInsteadOfOverflowing) {
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    Crawlet c = MarkedCrawlet(5, UpRight);
    c.SegmentPos[0] = {kMax - 50, kMin + 50};
    RecordingSurface surface;
    c.MoveCrawlet(surface, kRed);
    EXPECT_EQ(c.SegmentPos[0], (SegmentPoint{kMax, kMin}));
}

}  // namespace
}  // namespace quillomir
