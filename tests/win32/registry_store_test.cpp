#include "registry_store.h"

#include <gtest/gtest.h>

#include <string>

#include "scoped_win.h"
#include "settings/settings_keys.h"

namespace quillomir::win32 {
namespace {

constexpr wchar_t kTestRoot[] = L"Software\\QuillomirTest\\RegistryStore";

// Each test works in its own scratch branch, removed before and after.
class RegistryStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuillomirTest");  // only if now empty
    }

    // Writes a raw value of any type where the store looks for key "Raw".
    void WriteRaw(DWORD type, const void* data, DWORD size) {
        const std::wstring path = std::wstring(kTestRoot) + L"\\Quillomir\\Setup";
        ScopedKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, key.receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), L"Raw", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    std::string ReadRaw() { return store.Read("Quillomir", "Setup", "Raw", "fallback"); }

    RegistryStore store{HKEY_CURRENT_USER, kTestRoot};
};

TEST_F(RegistryStoreTest, SavedSettingsReadBackThroughTheSettingKeys) {
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), 16711680) << "fresh branch gives defaults";
    EXPECT_TRUE(SaveSetting(store, kCrawletMethodKey, 2));
    EXPECT_TRUE(SaveSetting(store, kCrawletColorKey, 65280));
    EXPECT_TRUE(SaveSetting(store, kDisplayValueKey, -1));
    EXPECT_EQ(ReadSetting(store, kCrawletMethodKey), 2);
    EXPECT_EQ(ReadSetting(store, kCrawletColorKey), 65280);
    EXPECT_EQ(ReadSetting(store, kDisplayValueKey), -1);
    // The text itself is what is stored, and a second save replaces it.
    EXPECT_TRUE(store.Save("Quillomir", "Setup", "CrawletColor", "255"));
    EXPECT_EQ(store.Read("Quillomir", "Setup", "CrawletColor", "x"), "255");
    // Stored as REG_SZ with its terminator counted.
    wchar_t data[8] = {};
    DWORD type = 0, size = sizeof data;
    const std::wstring path = std::wstring(kTestRoot) + L"\\Quillomir\\Setup";
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"CrawletColor", RRF_RT_ANY, &type,
                           data, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4 * sizeof(wchar_t));
    EXPECT_STREQ(data, L"255");
}

TEST_F(RegistryStoreTest, UnusableValuesReadAsTheFallback) {
    EXPECT_EQ(ReadRaw(), "fallback") << "missing key";
    EXPECT_EQ(store.Read("Quillomir", "Elsewhere", "Raw", "fallback"), "fallback");

    const DWORD number = 7;
    WriteRaw(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(ReadRaw(), "fallback") << "REG_DWORD";

    const unsigned char bytes[] = {'5', 0, 0, 0};
    WriteRaw(REG_BINARY, bytes, sizeof bytes);
    EXPECT_EQ(ReadRaw(), "fallback") << "REG_BINARY";

    // Text of another type: expanding it would let it pass as a plain string.
    const wchar_t expandable[] = L"1";
    WriteRaw(REG_EXPAND_SZ, expandable, sizeof expandable);
    EXPECT_EQ(ReadRaw(), "fallback") << "REG_EXPAND_SZ";

    const std::wstring tooLong(300, L'7');
    WriteRaw(REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(ReadRaw(), "fallback") << "300 characters";

    const std::wstring longest(RegistryStore::kMaxTextLength, L'7');
    WriteRaw(REG_SZ, longest.c_str(), static_cast<DWORD>((longest.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(ReadRaw(), std::string(RegistryStore::kMaxTextLength, '7')) << "the longest text";

    EXPECT_EQ(store.Read("Quillomir", "Setup", "Missing", "fallback"), "fallback");
}

TEST_F(RegistryStoreTest, SavesThatCannotBeReadBackAreRefused) {
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "Raw", std::string(300, '7')));
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "Raw", std::string("1\0002", 3)));
    EXPECT_FALSE(store.Save("Quillomir", "Setup", "", "1"));
    EXPECT_FALSE(store.Save("Quillomir", "Set\\up", "Raw", "1"));
    EXPECT_EQ(ReadRaw(), "fallback");
}

TEST_F(RegistryStoreTest, FindTellsAbsentFromTextAndFromWhatCannotBePutBack) {
    using Kind = StoredText::Kind;
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Raw").kind, Kind::kAbsent) << "no key at all";
    ASSERT_TRUE(store.Save("Quillomir", "Setup", "Other", "1"));
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Raw").kind, Kind::kAbsent) << "key, no value";

    ASSERT_TRUE(store.Save("Quillomir", "Setup", "Raw", "16711680"));
    StoredText found = store.Find("Quillomir", "Setup", "Raw");
    EXPECT_EQ(found.kind, Kind::kText);
    EXPECT_EQ(found.text, "16711680");
    ASSERT_TRUE(store.Save("Quillomir", "Setup", "Raw", ""));
    found = store.Find("Quillomir", "Setup", "Raw");
    EXPECT_EQ(found.kind, Kind::kText) << "an empty text is still a text";
    EXPECT_EQ(found.text, "");

    const DWORD number = 7;
    WriteRaw(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Raw").kind, Kind::kOther) << "REG_DWORD";
    const std::wstring tooLong(300, L'7');
    WriteRaw(REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Raw").kind, Kind::kOther) << "300 characters";
    EXPECT_EQ(store.Find("Quillomir", "Set\\up", "Raw").kind, Kind::kOther) << "bad name";
}

TEST_F(RegistryStoreTest, RemoveLeavesTheKeyAbsent) {
    EXPECT_TRUE(store.Remove("Quillomir", "Setup", "Raw")) << "nothing there to start with";
    ASSERT_TRUE(store.Save("Quillomir", "Setup", "Raw", "2"));
    ASSERT_TRUE(store.Save("Quillomir", "Setup", "Kept", "5"));
    EXPECT_TRUE(store.Remove("Quillomir", "Setup", "Raw"));
    EXPECT_EQ(store.Find("Quillomir", "Setup", "Raw").kind, StoredText::Kind::kAbsent);
    EXPECT_EQ(store.Read("Quillomir", "Setup", "Kept", "x"), "5") << "only that value goes";
    EXPECT_TRUE(store.Remove("Quillomir", "Setup", "Raw")) << "a second time";
    EXPECT_FALSE(store.Remove("Quillomir", "Setup", ""));
}

TEST_F(RegistryStoreTest, SettingsSavedTogetherComeBackWhenOneIsRefused) {
    // The store refuses a name with a backslash, which would reach into another key.
    ASSERT_TRUE(store.Save("Quillomir", "Setup", "CrawletColor", "255"));
    const SettingKey refusedKey{"Crawlet\\Other", IntWidth::Int32, 0};
    const SettingChange changes[] = {
        {kCrawletMethodKey, 2}, {kCrawletColorKey, 65280}, {refusedKey, 1}};
    EXPECT_EQ(SaveSettingsTogether(store, changes), SaveOutcome::kNothingSaved);
    EXPECT_EQ(store.Find("Quillomir", "Setup", "CrawletMethod").kind, StoredText::Kind::kAbsent);
    EXPECT_EQ(store.Read("Quillomir", "Setup", "CrawletColor", "x"), "255");
}

TEST(RegistryStore, SaveWhereNoKeyCanBeCreatedFails) {
    // HARDWARE is a volatile branch: no lasting key may be made beneath it.
    RegistryStore volatileParent(HKEY_LOCAL_MACHINE, L"HARDWARE\\QuillomirTest");
    EXPECT_FALSE(volatileParent.Save("Quillomir", "Setup", "DisplayValue", "1"));
    // A key name longer than the registry allows.
    RegistryStore tooLongName(HKEY_CURRENT_USER,
                              L"Software\\QuillomirTest\\" + std::wstring(300, L'k'));
    EXPECT_FALSE(tooLongName.Save("Quillomir", "Setup", "DisplayValue", "1"));
    EXPECT_EQ(tooLongName.Read("Quillomir", "Setup", "DisplayValue", "0"), "0");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuillomirTest");  // made on the way, if at all
}

}  // namespace
}  // namespace quillomir::win32
