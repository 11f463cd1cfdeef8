// The settings as REG_SZ values under <hive>\<root>\<application>\<section>,
// one value per key, by default in HKEY_CURRENT_USER\Software.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "settings/settings_store.h"

namespace quillomir::win32 {

class RegistryStore : public SettingsStore {
  public:
    // The longest text, in UTF-16 units, that a read accepts; longer values
    // read as missing, and saving one is refused so that no save succeeds
    // that could not be read back.
    static constexpr std::size_t kMaxTextLength = 255;

    RegistryStore() = default;
    // Another place for the values, such as a scratch branch for tests.
    RegistryStore(HKEY hive, std::wstring root) : hive_(hive), root_(std::move(root)) {}

    std::string Read(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view fallback) override;
    bool Save(std::string_view application, std::string_view section, std::string_view key,
              std::string_view text) override;
    // A value that Read would not return as stored (another type, too long, or
    // unreadable) is kOther, so that nobody believes it can be written back.
    StoredText Find(std::string_view application, std::string_view section,
                    std::string_view key) override;
    bool Remove(std::string_view application, std::string_view section,
                std::string_view key) override;

  private:
    // The key's path below the hive, or empty when a part cannot name a key.
    std::wstring KeyPath(std::string_view application, std::string_view section) const;

    HKEY hive_ = HKEY_CURRENT_USER;
    std::wstring root_ = L"Software";
};

}  // namespace quillomir::win32
