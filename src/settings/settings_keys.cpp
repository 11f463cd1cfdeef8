#include "settings/settings_keys.h"

#include <limits>
#include <vector>

namespace quillomir {

namespace {

struct Range {
    std::int64_t min;
    std::int64_t max;
};

Range RangeOf(IntWidth width) {
    if (width == IntWidth::Int16) {
        return {std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()};
    }
    return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
}

}  // namespace

std::optional<std::int32_t> ParseSettingText(std::string_view text, IntWidth width) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    const Range range = RangeOf(width);
    // Accumulate as a negative number so that the width's minimum parses too.
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 - (c - '0');
        if (value < range.min - 1) {
            return std::nullopt;  // far too long already; stop before int64 overflows
        }
    }
    if (!negative) {
        value = -value;
    }
    if (value < range.min || value > range.max) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string FormatSettingText(std::int32_t value) {
    return std::to_string(value);
}

std::int32_t ReadSetting(SettingsStore& store, const SettingKey& key) {
    const std::string fallback = FormatSettingText(key.defaultValue);
    const std::string text = store.Read(kSettingsApplication, kSettingsSection, key.name, fallback);
    return ParseSettingText(text, key.width).value_or(key.defaultValue);
}

bool SaveSetting(SettingsStore& store, const SettingKey& key, std::int32_t value) {
    return store.Save(kSettingsApplication, kSettingsSection, key.name, FormatSettingText(value));
}

namespace {

bool PutBack(SettingsStore& store, const SettingKey& key, const StoredText& before) {
    switch (before.kind) {
        case StoredText::Kind::kAbsent:
            return store.Remove(kSettingsApplication, kSettingsSection, key.name);
        case StoredText::Kind::kText:
            return store.Save(kSettingsApplication, kSettingsSection, key.name, before.text);
        case StoredText::Kind::kOther:
            break;
    }
    return false;  // what it held cannot be written back
}

}  // namespace

SaveOutcome SaveSettingsTogether(SettingsStore& store, std::span<const SettingChange> changes) {
    std::vector<StoredText> before;
    before.reserve(changes.size());
    for (const SettingChange& change : changes) {
        before.push_back(store.Find(kSettingsApplication, kSettingsSection, change.key.name));
    }
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (SaveSetting(store, changes[i].key, changes[i].value)) {
            continue;
        }
        // Newest first, and every one is tried even after one fails, so that
        // as much as possible is back as it was.
        bool restored = true;
        for (std::size_t j = i; j-- > 0;) {
            restored = PutBack(store, changes[j].key, before[j]) && restored;
        }
        return restored ? SaveOutcome::kNothingSaved : SaveOutcome::kPartlySaved;
    }
    return SaveOutcome::kSaved;
}

}  // namespace quillomir
