// The crawlet's motion on any screen: a saver window loaded on a random screen
// size and DPI, driven for up to 100,000 movement ticks while the length jumps
// about. Every drawn centre must be a table entry, the tail erase must match the
// length, and the head must never wander more than two steps off the screen.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/fakes.h"
#include "crawlet/crawlet.h"
#include "saver/frm_main.h"

namespace {

using quillomir::ColorValue;
using quillomir::Crawlet;
using quillomir::frmMain;
using quillomir::SaverTimer;
using quillomir::SegmentPoint;

constexpr int kMaxTicks = 100000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_motion: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) {
        Fail(what);
    }
}

// Draws nothing; checks each circle against the crawlet's table as it is drawn.
class CheckingSurface : public quillomir::DrawingSurface {
  public:
    CheckingSurface(float width, float height) : width_(width), height_(height) {}

    void Watch(const Crawlet* crawlet) { crawlet_ = crawlet; }

    void SetFillColor(ColorValue color) override { fill_ = color; }

    // The checks themselves are no coverage to chase.
    __attribute__((no_sanitize("coverage"))) void DrawCircle(float x, float y, float radius,
                                                             ColorValue outline) override {
        Check(radius == static_cast<float>(quillomir::kStartRadius), "radius changed");
        Check(outline == fill_, "outline and fill differ");
        (outline == quillomir::kBlack ? black : coloured) += 1;
        if (crawlet_ != nullptr) {
            Check(IsTableEntry(x, y), "a circle drawn where no table entry is");
        }
    }

    float ScaleWidth() const override { return width_; }
    float ScaleHeight() const override { return height_; }

    int black = 0;
    int coloured = 0;

  private:
    // The erase walks the table downwards, so the search does too, from just
    // below the last match: nearly always the first entry it tries is the one.
    // Bouncing revisits places, so equal entries are common; a search from the
    // top would keep finding the wrong one of them and scan the whole table.
    __attribute__((no_sanitize("coverage"))) bool IsTableEntry(float x, float y) {
        const auto& table = crawlet_->SegmentPos;
        for (int n = 0; n < Crawlet::kSegmentCount; ++n) {
            const int i = (hint_ - 1 - n + 2 * Crawlet::kSegmentCount) % Crawlet::kSegmentCount;
            if (static_cast<float>(table[i].x) == x && static_cast<float>(table[i].y) == y) {
                hint_ = i;
                return true;
            }
        }
        return false;
    }

    float width_, height_;
    ColorValue fill_ = -1;
    const Crawlet* crawlet_ = nullptr;
    int hint_ = 0;
};

struct Scenario {
    float width = 0, height = 0;  // twips
    std::int32_t seconds = 0;     // the time of day that seeds the heading
    int ticks = 0;
    int ticksPerLength = 0;
    bool repaint = false;
    std::vector<std::int16_t> lengths;
};

Scenario Read(FuzzedDataProvider& in) {
    constexpr int kDpis[] = {96, 120, 144, 192};
    Scenario s;
    const int widthPx = in.ConsumeIntegralInRange(1, 7680);
    const int heightPx = in.ConsumeIntegralInRange(1, 4320);
    const int dpi = in.PickValueInArray(kDpis);
    s.width = static_cast<float>(widthPx * 1440.0 / dpi);
    s.height = static_cast<float>(heightPx * 1440.0 / dpi);
    s.seconds = in.ConsumeIntegralInRange(0, 86399);
    // Log-uniform, so that most runs are short and fuzzing stays quick, while
    // one in a few still runs the whole 100,000 ticks.
    const int scale = in.ConsumeIntegralInRange(0, 17);
    s.ticks = std::min(kMaxTicks, in.ConsumeIntegralInRange(1, 1 << scale));
    s.ticksPerLength = in.ConsumeIntegralInRange(1, 120);
    s.repaint = in.ConsumeBool();
    while (in.remaining_bytes() > 0 && s.lengths.size() < 256) {
        // Mostly what the sampler can produce; sometimes anything, for the guard.
        if (in.ConsumeBool()) {
            s.lengths.push_back(in.ConsumeIntegralInRange<std::int16_t>(4, 105));
        } else {
            s.lengths.push_back(in.ConsumeIntegral<std::int16_t>());
        }
    }
    return s;
}

void CheckTick(const Crawlet& c, const Scenario& s, SegmentPoint before, int black, int coloured) {
    const int length = std::clamp<int>(c.CrawletLength, Crawlet::kMinLength, Crawlet::kMaxLength);
    Check(black == std::max(0, Crawlet::kEraseFrom + 1 - length), "tail erase miscounted");
    Check(coloured == 2, "not two coloured circles");

    const SegmentPoint head = c.SegmentPos[0];
    const std::int32_t step = c.StepSize;
    Check(c.SegmentPos[1] == before, "the chain did not follow the head");
    Check(head.x - before.x == step || before.x - head.x == step, "x moved by other than a step");
    Check(head.y - before.y == step || before.y - head.y == step, "y moved by other than a step");
    Check(c.Direction >= quillomir::UpRight && c.Direction <= quillomir::UpLeft, "bad heading");

    const double margin = 2.0 * step;
    Check(head.x >= -margin && head.x <= s.width + margin, "head beyond two steps sideways");
    Check(head.y >= -margin && head.y <= s.height + margin, "head beyond two steps vertically");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Scenario s = Read(in);

    quillomir::fakes::FakeSaverHost host;
    host.seconds = s.seconds;
    quillomir::fakes::InMemorySettings settings;
    quillomir::fakes::ScriptedCounters counters;
    quillomir::fakes::ScriptedMemory memory;
    CheckingSurface surface(s.width, s.height);
    frmMain saver(host, surface, settings, counters, memory);
    saver.Load();

    Crawlet& c = saver.crawlet;
    Check(c.CrawletLength == quillomir::kStartLength, "start length");
    Check(c.Direction >= quillomir::UpRight && c.Direction <= quillomir::UpLeft, "start heading");
    Check(c.SegmentPos[0].x >= 0 && c.SegmentPos[0].x <= double{s.width}, "start x off the screen");
    Check(c.SegmentPos[0].y >= 0 && c.SegmentPos[0].y <= double{s.height},
          "start y off the screen");
    surface.Watch(&c);

    std::size_t next = 0;
    for (int tick = 0; tick < s.ticks; ++tick) {
        if (!s.lengths.empty() && tick > 0 && tick % s.ticksPerLength == 0) {
            c.CrawletLength = s.lengths[next++ % s.lengths.size()];
            if (s.repaint) {
                saver.Paint(surface);  // a repaint reads the table too
            }
        }
        const SegmentPoint before = c.SegmentPos[0];
        surface.black = surface.coloured = 0;
        saver.TimerTick(SaverTimer::Timer1);
        CheckTick(c, s, before, surface.black, surface.coloured);
    }
    return 0;
}
