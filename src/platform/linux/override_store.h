// The stored settings with the command line's choices laid over them for one
// run: the saver reads through it, and nothing is written through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace quillomir::linux_host {

class OverrideStore : public SettingsStore {
  public:
    struct Overrides {
        std::optional<std::int16_t> method;
        std::optional<std::int16_t> displayValue;
        std::optional<std::int32_t> color;
    };

    OverrideStore(SettingsStore& stored, Overrides overrides)
        : stored_(stored), overrides_(overrides) {}

    std::string Read(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view fallback) override {
        if (application == kSettingsApplication && section == kSettingsSection) {
            if (const auto value = Override(key)) {
                return FormatSettingText(*value);
            }
        }
        return stored_.Read(application, section, key, fallback);
    }

    StoredText Find(std::string_view application, std::string_view section,
                    std::string_view key) override {
        if (application == kSettingsApplication && section == kSettingsSection) {
            if (const auto value = Override(key)) {
                return {StoredText::Kind::kText, FormatSettingText(*value)};
            }
        }
        return stored_.Find(application, section, key);
    }

    // A run's choices are not the user's settings: nothing is written through it.
    bool Save(std::string_view, std::string_view, std::string_view, std::string_view) override {
        return false;
    }
    bool Remove(std::string_view, std::string_view, std::string_view) override { return false; }

  private:
    std::optional<std::int32_t> Override(std::string_view key) const {
        if (key == kCrawletMethodKey.name && overrides_.method) {
            return *overrides_.method;
        }
        if (key == kDisplayValueKey.name && overrides_.displayValue) {
            return *overrides_.displayValue;
        }
        if (key == kCrawletColorKey.name && overrides_.color) {
            return *overrides_.color;
        }
        return std::nullopt;
    }

    SettingsStore& stored_;
    Overrides overrides_;
};

}  // namespace quillomir::linux_host
