// the three keys, their text form and their defaults.
#include "settings/settings_keys.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace quillomir {
namespace {

using fakes::InMemorySettings;

TEST(SettingsKeys, NamesWidthsAndDefaults) {
    EXPECT_EQ(kSettingsApplication, "Quillomir");
    EXPECT_EQ(kSettingsSection, "Setup");
    const std::tuple<SettingKey, const char*, IntWidth, std::int32_t> keys[] = {
        {kDisplayValueKey, "DisplayValue", IntWidth::Int16, 0},
        {kCrawletMethodKey, "CrawletMethod", IntWidth::Int16, 1},
        {kCrawletColorKey, "CrawletColor", IntWidth::Int32, 16711680},
    };
    for (const auto& [key, name, width, fallback] : keys) {
        EXPECT_EQ(key.name, name);
        EXPECT_EQ(key.width, width) << name;
        EXPECT_EQ(key.defaultValue, fallback) << name;
        InMemorySettings empty;
        EXPECT_EQ(ReadSetting(empty, key), fallback) << name;
    }
}

TEST(SettingsText, AnythingButAPlainDecimalThatFitsReadsAsTheDefault) {
    const std::string longDigits(300, '7');
    // Blanks, signs, other notations, fractions, trailing text, an embedded NUL,
    // numbers too long for any key, Arabic-Indic three and full-width five.
    // clang-format off
    std::vector<std::string> everywhere = {
        "", " ", " 5", "5 ", "-", "--5", "5-", "0x10", "2.5", "1e3", "+5", "abc", "12abc", "1:",
        "/1", "99999999999", "18446744073709551617", "\xd9\xa3", "\xef\xbc\x95", "1\xef\xbc\x95"};
    // clang-format on
    everywhere.insert(everywhere.end(), {std::string("1\0002", 3), longDigits, "-" + longDigits});
    std::vector<std::pair<std::string, SettingKey>> bad = {
        {"32768", kDisplayValueKey},      {"32768", kCrawletMethodKey},
        {"-32769", kDisplayValueKey},     {"-32769", kCrawletMethodKey},
        {"2147483648", kCrawletColorKey}, {"-2147483649", kCrawletColorKey},
    };
    for (const std::string& text : everywhere) {
        for (const SettingKey& key : kAllSettingKeys) {
            bad.emplace_back(text, key);
        }
    }
    for (const auto& [text, key] : bad) {
        InMemorySettings store;
        store.Put(key.name, text);
        EXPECT_EQ(ReadSetting(store, key), key.defaultValue) << key.name << " \"" << text << '"';
        EXPECT_EQ(ParseSettingText(text, key.width), std::nullopt) << key.name << " \"" << text;
    }
}

TEST(SettingsText, PlainDecimalsParseIntoTheKeysWidth) {
    const std::tuple<const char*, SettingKey, std::int32_t> good[] = {
        {"-1", kDisplayValueKey, -1},
        {"0", kCrawletMethodKey, 0},
        {"-0", kCrawletMethodKey, 0},
        {"007", kCrawletMethodKey, 7},
        {"2", kCrawletMethodKey, 2},
        {"-32768", kDisplayValueKey, -32768},
        {"32767", kDisplayValueKey, 32767},
        {"32768", kCrawletColorKey, 32768},
        {"65280", kCrawletColorKey, 65280},
        {"2147483647", kCrawletColorKey, 2147483647},
        {"-2147483648", kCrawletColorKey, -2147483647 - 1},
    };
    for (const auto& [text, key, value] : good) {
        InMemorySettings store;
        store.Put(key.name, text);
        EXPECT_EQ(ReadSetting(store, key), value) << key.name << " \"" << text << '"';
    }
}

TEST(SettingsText, SaveWritesDecimalTextUnderQuillomirSetup) {
    InMemorySettings store;
    EXPECT_TRUE(SaveSetting(store, kCrawletMethodKey, 2));
    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, 65280));
    EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, -1));
    const std::map<InMemorySettings::Address, std::string> expected{
        {{"Quillomir", "Setup", "CrawletMethod"}, "2"},
        {{"Quillomir", "Setup", "CrawletColor"}, "65280"},
        {{"Quillomir", "Setup", "DisplayValue"}, "-1"},
    };
    EXPECT_EQ(store.values, expected);
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 2);
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), -1);

    EXPECT_EQ(FormatSettingText(-2147483647 - 1), "-2147483648");
    store.failSaves = true;
    EXPECT_FALSE(SaveSetting(store, kCrawletColorKey, 255));
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), 65280);
}

}  // namespace
}  // namespace quillomir
