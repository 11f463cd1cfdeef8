// Per-user text values addressed by application, section and key.
#pragma once

#include <string>
#include <string_view>

namespace quillomir {

// What a key holds, taken before it is overwritten so that it can be put back.
struct StoredText {
    enum class Kind {
        kAbsent,  // no such key: putting it back means removing it
        kText,    // a text, in `text`
        kOther,   // something that is not readable text, or the read failed:
                  // it cannot be put back as it was
    };
    Kind kind = Kind::kAbsent;
    std::string text;
};

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // The stored text, or `fallback` when the key has no usable value.
    virtual std::string Read(std::string_view application, std::string_view section,
                             std::string_view key, std::string_view fallback) = 0;
    // Stores the text, creating what is needed. False when it could not be stored.
    virtual bool Save(std::string_view application, std::string_view section, std::string_view key,
                      std::string_view text) = 0;
    // What the key holds now, telling an absent key from a stored text.
    virtual StoredText Find(std::string_view application, std::string_view section,
                            std::string_view key) = 0;
    // Removes the key. True when it is absent afterwards (also when it was never there).
    virtual bool Remove(std::string_view application, std::string_view section,
                        std::string_view key) = 0;
};

}  // namespace quillomir
