// The stored settings' text form: ParseSettingText for both widths, and the
// round trip through FormatSettingText.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "settings/settings_keys.h"

namespace {

using quillomir::FormatSettingText;
using quillomir::IntWidth;
using quillomir::ParseSettingText;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool IsPlainDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// An independent reading: the standard library's, into the width's own type.
template <typename Int>
std::optional<std::int32_t> Reference(std::string_view text) {
    if (!IsPlainDecimal(text)) {
        return std::nullopt;
    }
    Int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename Int>
void CheckWidth(std::string_view text, IntWidth width) {
    const std::optional<std::int32_t> parsed = ParseSettingText(text, width);
    // Only a plain decimal that fits the width parses, and to its value.
    Check(parsed == Reference<Int>(text));
    if (!parsed) {
        return;
    }
    Check(IsPlainDecimal(text));

    // What is saved reads back as what was saved, and in its one canonical form.
    const std::string saved = FormatSettingText(*parsed);
    Check(ParseSettingText(saved, width) == parsed);
    Check(IsPlainDecimal(saved));
    const std::string_view digits = std::string_view(saved).substr(saved.front() == '-' ? 1 : 0);
    Check(digits.size() == 1 || digits.front() != '0');
    Check(saved != "-0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckWidth<std::int16_t>(text, IntWidth::Int16);
    CheckWidth<std::int32_t>(text, IntWidth::Int32);
    return 0;
}
