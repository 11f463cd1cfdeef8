// The saver window's behaviour: load, input, the two timers, and unload.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "crawlet/crawlet.h"
#include "crawlet/drawing_surface.h"
#include "measure/counter_source.h"
#include "measure/cpuinfo.h"
#include "measure/sampler.h"
#include "saver/saver_host.h"
#include "settings/settings_store.h"
#include "settings/twip_rect.h"

namespace quillomir {

inline constexpr const char* kSaverCaption = "Screen Saver Main Form";
inline constexpr const char* kLabelInitialCaption = "Averaging data over 60 seconds...";
inline constexpr TwipRect kLabelRect{240, 240, 3372, 252};
inline constexpr ColorValue kLabelTextColor = kWhite;
inline constexpr std::uint32_t kTimer1IntervalMs = 1000;
inline constexpr std::uint32_t kTimer2IntervalMs = 10000;
inline constexpr std::int16_t kMouseMovesAllowed = 5;
inline constexpr std::int16_t kStartRadius = 120;
inline constexpr std::int16_t kStartStep = 105;
inline constexpr std::int16_t kStartLength = 5;

class frmMain {
  public:
    frmMain(SaverHost& host, DrawingSurface& surface, SettingsStore& settings,
            CounterSource& counters, MemorySource& memory);

    // The load sequence: settings, label, full screen, top-most, pointer, heading,
    // head at the centre, meter baseline, and both timers started.
    void Load();
    void KeyDown();
    // Pointer positions are twips in this window's client coordinates; other
    // windows of the saver report theirs in the same frame.
    void MouseDown(std::int32_t x, std::int32_t y);
    void MouseMove(std::int32_t x, std::int32_t y);
    // Where the pointer stands when the window appears: the move message that
    // Windows sends for it then is not a move of the user's.
    void NotePointer(std::int32_t x, std::int32_t y) { lastMove_ = std::pair{x, y}; }
    void TimerTick(SaverTimer timer);
    // The close sequence: the pointer comes back and the meter is released.
    void Unload();
    // The window was uncovered: repaint the chain from the state.
    void Paint(DrawingSurface& surface) const;

    Crawlet crawlet;
    ColorValue CrawletColor = 0;
    std::unique_ptr<cpuinfo> Meter;
    LoadSampler sampler;
    std::int16_t DisplayValue = 0;
    std::int16_t MouseMoves = 0;

    bool closing() const { return closing_; }

  private:
    void BounceTick();
    void SamplerTick();
    void RequestClose();
    bool OverVisibleLabel(std::int32_t x, std::int32_t y) const;

    SaverHost& host_;
    DrawingSurface& surface_;
    SettingsStore& settings_;
    CounterSource& counters_;
    std::optional<std::pair<std::int32_t, std::int32_t>> lastMove_;
    bool loaded_ = false;
    bool closing_ = false;
    bool unloaded_ = false;
};

}  // namespace quillomir
