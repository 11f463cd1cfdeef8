// Test doubles for the platform interfaces that the portable core calls.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "crawlet/drawing_surface.h"
#include "measure/counter_source.h"
#include "saver/saver_host.h"
#include "settings/settings_store.h"

namespace quillomir::fakes {

// One drawing operation: a fill colour (isCircle false) or a circle.
struct DrawOp {
    bool isCircle = false;
    ColorValue color = 0;  // fill colour, or the circle's outline
    float x = 0, y = 0, radius = 0;

    friend bool operator==(const DrawOp&, const DrawOp&) = default;
};

inline DrawOp Fill(ColorValue c) {
    return {false, c, 0, 0, 0};
}
inline DrawOp Circle(float x, float y, ColorValue outline, float radius = 120) {
    return {true, outline, x, y, radius};
}

class RecordingSurface : public DrawingSurface {
  public:
    RecordingSurface(float width = 9000, float height = 6000) : width(width), height(height) {}

    void SetFillColor(ColorValue color) override { ops.push_back(Fill(color)); }
    void DrawCircle(float x, float y, float radius, ColorValue outline) override {
        ops.push_back(Circle(x, y, outline, radius));
    }
    float ScaleWidth() const override { return width; }
    float ScaleHeight() const override { return height; }

    int CirclesOf(ColorValue outline) const {
        int n = 0;
        for (const DrawOp& op : ops) {
            n += (op.isCircle && op.color == outline) ? 1 : 0;
        }
        return n;
    }

    float width, height;
    std::vector<DrawOp> ops;
};

// Each reading answers the value set in it; an empty optional is a failed query.
// `log` records the order of the queries: 'P' processors, 'S' system, 'I' idle.
class ScriptedCounters : public CounterSource {
  public:
    std::optional<std::uint32_t> ProcessorCount() override { return log += 'P', processors; }
    std::optional<std::uint64_t> IdleTime() override { return log += 'I', idle; }
    std::optional<std::uint64_t> SystemTime() override { return log += 'S', system; }

    // Moves both counters on by the given differences (which may be negative).
    void Advance(std::int64_t idleDiff, std::int64_t timeDiff) {
        idle = *idle + static_cast<std::uint64_t>(idleDiff);
        system = *system + static_cast<std::uint64_t>(timeDiff);
    }

    std::optional<std::uint32_t> processors = 1;
    std::optional<std::uint64_t> idle = 0;
    std::optional<std::uint64_t> system = 0;
    std::string log;
};

// Answers the scripted readings in turn, then repeats the last one.
class ScriptedMemory : public MemorySource {
  public:
    std::optional<MemoryStatus> Read() override {
        if (readings.size() > 1) {
            auto next = readings.front();
            readings.pop_front();
            return next;
        }
        return readings.empty() ? std::nullopt : readings.front();
    }

    std::deque<std::optional<MemoryStatus>> readings;
};

class InMemorySettings : public SettingsStore {
  public:
    using Address = std::tuple<std::string, std::string, std::string>;

    std::string Read(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view fallback) override {
        const auto it = values.find(Address{application, section, key});
        return it == values.end() ? std::string(fallback) : it->second;
    }
    bool Save(std::string_view application, std::string_view section, std::string_view key,
              std::string_view text) override {
        if (failSaves) {
            return false;
        }
        values[Address{application, section, key}] = text;
        return true;
    }

    StoredText Find(std::string_view application, std::string_view section,
                    std::string_view key) override {
        const auto it = values.find(Address{application, section, key});
        return it == values.end() ? StoredText{} : StoredText{StoredText::Kind::kText, it->second};
    }
    bool Remove(std::string_view application, std::string_view section,
                std::string_view key) override {
        if (failRemoves) {
            return false;
        }
        values.erase(Address{application, section, key});
        return true;
    }

    void Put(std::string_view key, std::string_view text) {
        values[Address{"Quillomir", "Setup", key}] = text;
    }

    std::map<Address, std::string> values;
    bool failSaves = false;
    bool failRemoves = false;
};

// Records what the saver window asks of its host. ShowPointer models the
// ShowCursor display count, which starts at 0.
class FakeSaverHost : public SaverHost {
  public:
    void SetLabelVisible(bool visible) override {
        labelVisible = visible, calls.push_back("visible");
    }
    void SetLabelCaption(std::string_view caption) override { captions.emplace_back(caption); }
    void CoverScreen() override { calls.push_back("cover"); }
    std::int32_t MakeTopMost() override { return calls.push_back("topmost"), topMostResult; }
    int ShowPointer(bool show) override {
        (show ? pointerShows : pointerHides) += 1;
        return displayCount += show ? 1 : -1;
    }
    std::int32_t SecondsSinceMidnight() override { return seconds; }
    void StartTimer(SaverTimer timer, std::uint32_t intervalMs) override {
        timers.emplace_back(timer, intervalMs);
    }
    void Close() override { ++closes; }
    void FatalMessage(std::string_view text) override { fatal.emplace_back(text); }

    std::int32_t topMostResult = 1;
    std::int32_t seconds = 43200;
    int displayCount = 0;
    int pointerHides = 0, pointerShows = 0, closes = 0;
    bool labelVisible = false;
    std::vector<std::string> calls, captions, fatal;
    std::vector<std::pair<SaverTimer, std::uint32_t>> timers;
};

}  // namespace quillomir::fakes
