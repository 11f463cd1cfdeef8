// The three stored choices: their keys, widths, defaults and text form, shared
// by the saver (which reads them) and the dialog (which reads and writes them).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/settings_store.h"

namespace quillomir {

inline constexpr std::string_view kSettingsApplication = "Quillomir";
inline constexpr std::string_view kSettingsSection = "Setup";

enum class IntWidth { Int16, Int32 };

struct SettingKey {
    std::string_view name;
    IntWidth width;
    std::int32_t defaultValue;
};

inline constexpr SettingKey kDisplayValueKey{"DisplayValue", IntWidth::Int16, 0};
inline constexpr SettingKey kCrawletMethodKey{"CrawletMethod", IntWidth::Int16, 1};
// The colours that the dialog offers, as stored in "CrawletColor" (0x00BBGGRR).
inline constexpr std::int32_t kRedValue = 255;
inline constexpr std::int32_t kGreenValue = 65280;
inline constexpr std::int32_t kBlueValue = 16711680;
inline constexpr std::int32_t kPurpleValue = 16711935;
inline constexpr std::int32_t kWhiteValue = 16777215;

inline constexpr SettingKey kCrawletColorKey{"CrawletColor", IntWidth::Int32, kBlueValue};

inline constexpr SettingKey kAllSettingKeys[] = {kDisplayValueKey, kCrawletMethodKey,
                                                 kCrawletColorKey};

// A plain decimal integer that fits the width: an optional leading minus, then
// ASCII digits only. Anything else (blanks, "+5", "0x10", "2.5", "1e3") is empty.
std::optional<std::int32_t> ParseSettingText(std::string_view text, IntWidth width);

// The decimal text that is stored: "-1", "0", "16711680".
std::string FormatSettingText(std::int32_t value);

// The stored value, or the key's default when it is missing or not a valid text.
std::int32_t ReadSetting(SettingsStore& store, const SettingKey& key);

// False when the store could not save it.
bool SaveSetting(SettingsStore& store, const SettingKey& key, std::int32_t value);

struct SettingChange {
    SettingKey key;
    std::int32_t value;
};

enum class SaveOutcome {
    kSaved,         // every change is stored
    kNothingSaved,  // a change was refused and the store is as it was before
    kPartlySaved,   // a change was refused and putting back the earlier ones failed too
};

// Saves all the changes or none of them, as far as the store allows: what each
// key held is taken first, and when the store refuses a change the keys already
// written get their old texts back (or are removed when they were absent).
SaveOutcome SaveSettingsTogether(SettingsStore& store, std::span<const SettingChange> changes);

}  // namespace quillomir
