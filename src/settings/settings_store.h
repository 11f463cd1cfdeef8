// Per-user text values addressed by application, section and key.
#pragma once

#include <string>
#include <string_view>

namespace quillomir {

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // The stored text, or `fallback` when the key has no usable value.
    virtual std::string Read(std::string_view application, std::string_view section,
                             std::string_view key, std::string_view fallback) = 0;
    // Stores the text, creating what is needed. False when it could not be stored.
    virtual bool Save(std::string_view application, std::string_view section, std::string_view key,
                      std::string_view text) = 0;
};

}  // namespace quillomir
