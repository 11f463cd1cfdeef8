#include "saver/frm_main.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "settings/settings_keys.h"

namespace quillomir {

namespace {

// ShowCursor counts; a host that never reaches the target must not hang us.
constexpr int kMaxPointerCalls = 64;
constexpr int kHiddenBelow = -5;
constexpr int kShownAbove = 5;

std::int16_t Direction1To4(std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double r = uniform(generator);
    const auto direction = static_cast<std::int16_t>(std::floor(r * 4 + 1));
    return std::clamp<std::int16_t>(direction, UpRight, UpLeft);
}

}  // namespace

frmMain::frmMain(SaverHost& host, DrawingSurface& surface, SettingsStore& settings,
                 CounterSource& counters, MemorySource& memory)
    : sampler(memory), host_(host), surface_(surface), settings_(settings), counters_(counters) {}

void frmMain::Load() {
    DisplayValue = static_cast<std::int16_t>(ReadSetting(settings_, kDisplayValueKey));
    sampler.CrawletMethod = static_cast<std::int16_t>(ReadSetting(settings_, kCrawletMethodKey));
    CrawletColor = ReadSetting(settings_, kCrawletColorKey);

    host_.SetLabelCaption(kLabelInitialCaption);
    host_.SetLabelVisible(DisplayValue != 0);
    host_.CoverScreen();
    // The result stays in SampleValue: with method 3 it is what the first minute
    // averages.
    sampler.SampleValue = static_cast<std::int16_t>(host_.MakeTopMost());

    for (int i = 0; i < kMaxPointerCalls && host_.ShowPointer(false) >= kHiddenBelow; ++i) {
    }

    const auto seconds = static_cast<std::uint32_t>(std::max(0, host_.SecondsSinceMidnight()));
    crawlet.Direction = Direction1To4(seconds);
    crawlet.SegmentPos[0].x = static_cast<std::int32_t>(std::lrint(surface_.ScaleWidth() / 2));
    crawlet.SegmentPos[0].y = static_cast<std::int32_t>(std::lrint(surface_.ScaleHeight() / 2));
    crawlet.SegmentRadius = kStartRadius;
    crawlet.StepSize = kStartStep;
    crawlet.CrawletLength = kStartLength;

    Meter = std::make_unique<cpuinfo>(counters_);
    Meter->Initialize();
    sampler.SampleSum = 0;
    sampler.SampleCount = 0;

    loaded_ = true;
    host_.StartTimer(SaverTimer::Timer1, kTimer1IntervalMs);
    host_.StartTimer(SaverTimer::Timer2, kTimer2IntervalMs);
}

void frmMain::KeyDown() {
    RequestClose();
}

void frmMain::MouseDown(std::int32_t x, std::int32_t y) {
    if (OverVisibleLabel(x, y)) {
        return;
    }
    RequestClose();
}

void frmMain::MouseMove(std::int32_t x, std::int32_t y) {
    // Windows repeats the last position when a window appears or changes; only a
    // change of position is a move. Positions over the label are seen too, so a
    // return from the label to where the pointer was before is a move.
    const std::pair<std::int32_t, std::int32_t> position{x, y};
    if (lastMove_ == position) {
        return;
    }
    lastMove_ = position;
    if (OverVisibleLabel(x, y)) {
        return;
    }
    MouseMoves = static_cast<std::int16_t>(MouseMoves + 1);
    if (MouseMoves > kMouseMovesAllowed) {
        RequestClose();
    }
}

void frmMain::TimerTick(SaverTimer timer) {
    if (!loaded_ || closing_) {
        return;
    }
    if (timer == SaverTimer::Timer1) {
        BounceTick();
    } else {
        SamplerTick();
    }
}

void frmMain::BounceTick() {
    crawlet.BounceTick(surface_, CrawletColor);
}

void frmMain::SamplerTick() {
    switch (sampler.Tick(Meter.get())) {
        case SampleOutcome::Sampled:
            break;
        case SampleOutcome::Averaged:
            crawlet.CrawletLength = LoadSampler::LengthForAverage(sampler.SampleValue);
            host_.SetLabelCaption(AverageCaption(sampler.SampleValue));
            break;
        case SampleOutcome::InvalidMethod:
            closing_ = true;  // nothing more runs; the host ends the program
            host_.FatalMessage(kUnknownMethodMessage);
            break;
    }
}

void frmMain::Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    closing_ = true;
    for (int i = 0; i < kMaxPointerCalls && host_.ShowPointer(true) <= kShownAbove; ++i) {
    }
    if (Meter) {
        Meter->Terminate();
        Meter.reset();
    }
}

void frmMain::Paint(DrawingSurface& surface) const {
    if (loaded_) {
        crawlet.Redraw(surface, CrawletColor);
    }
}

void frmMain::RequestClose() {
    if (closing_) {
        return;
    }
    closing_ = true;
    host_.Close();
}

bool frmMain::OverVisibleLabel(std::int32_t x, std::int32_t y) const {
    return DisplayValue != 0 && kLabelRect.Contains(x, y);
}

}  // namespace quillomir
