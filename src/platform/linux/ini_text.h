// The text of a small INI file: "[Section]" headers and "Key=Value" lines.
// Lookups and edits work on the whole text, so that an edit keeps every other
// line (comments, other sections, unknown keys) as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillomir::linux_host {

// The value of the first "key=value" line in the section, or empty when the
// section or key is absent. Section and key names match exactly; blanks around
// the key and the value are not part of them; "#" and ";" lines are comments.
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// The text with the key set to `value`: its first line in the section is
// replaced and later duplicates of it dropped; a missing key is added at the
// end of the section, a missing section at the end of the text.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

// The text without any line of the key in the section; the rest unchanged.
std::string RemoveIniValue(std::string_view text, std::string_view section, std::string_view key);

// Whether a section or key name can be written and read back as the same name.
bool IsIniName(std::string_view name);
// Whether a value can be written and read back unchanged (one line, no blanks
// at either end).
bool IsIniValue(std::string_view value);

}  // namespace quillomir::linux_host
