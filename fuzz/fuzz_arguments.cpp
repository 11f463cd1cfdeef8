// The command line's switch: ArgumentText and ModeFromArguments on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "startup/startup.h"

namespace {

using quillomir::ArgumentText;
using quillomir::Mode;
using quillomir::ModeFromArguments;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char Flip(char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<char>(c - 'a' + 'A');
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c;
}

char ToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// The program name that ArgumentText skipped: the prefix before the argument
// text, less the blanks between the two.
void CheckProgramName(std::string_view line, std::string_view rest) {
    std::string_view name = line.substr(0, line.size() - rest.size());
    while (!name.empty() && IsBlank(name.back())) {
        name.remove_suffix(1);
    }
    if (!line.empty() && line.front() == '"') {
        // A quoted name ends at its closing quote, blanks inside included; an
        // unclosed quote swallows the whole line.
        const std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos) {
            Check(rest.empty());
        } else {
            Check(name.size() == close + 1);
        }
    } else {
        Check(name.find_first_of(" \t") == std::string_view::npos);
    }
}

void CheckArgumentText(std::string_view line) {
    const std::string_view rest = ArgumentText(line);
    // A view into the line, and its very end: a suffix.
    Check(rest.size() <= line.size());
    Check(rest.data() + rest.size() == line.data() + line.size());
    Check(rest.empty() || !IsBlank(rest.front()));
    CheckProgramName(line, rest);
}

void CheckMode(std::string_view text) {
    const Mode mode = ModeFromArguments(text);
    const std::string_view head = text.substr(0, 2);

    Check(mode == ModeFromArguments(head));
    // Whatever follows a two-character switch must not matter.
    if (head.size() == 2) {
        std::string longer(head);
        longer += " /s /c trailing";
        Check(mode == ModeFromArguments(longer));
    }

    std::string flipped(head);
    for (char& c : flipped) {
        c = Flip(c);
    }
    Check(mode == ModeFromArguments(flipped));

    // The switch table, read independently: empty text, or a slash and one of
    // four letters in either case; anything else (one character, "-s") is None.
    Mode expected = Mode::None;
    if (head.empty()) {
        expected = Mode::Configuration;
    } else if (head.size() == 2 && head[0] == '/') {
        switch (ToLower(head[1])) {
            case 'c':
                expected = Mode::Configuration;
                break;
            case 's':
                expected = Mode::Run;
                break;
            case 'p':
                expected = Mode::Preview;
                break;
            case 'a':
                expected = Mode::Password;
                break;
            default:
                break;
        }
    }
    Check(mode == expected);
}

// A nonzero owner comes only from "/c:" and the digits that spell it.
void CheckOwner(std::string_view text) {
    const std::uint64_t owner = quillomir::OwnerWindowFromArguments(text);
    if (owner == 0) {
        return;
    }
    Check(text.size() > 3 && text[0] == '/' && ToLower(text[1]) == 'c' && text[2] == ':');
    std::string_view digits = text.substr(3);
    while (!digits.empty() && IsBlank(digits.back())) {
        digits.remove_suffix(1);
    }
    Check(digits.find_first_not_of("0123456789") == std::string_view::npos);
    Check(std::to_string(owner) == digits.substr(digits.find_first_not_of('0')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    CheckArgumentText(line);
    CheckMode(line);
    CheckMode(ArgumentText(line));
    CheckOwner(line);
    return 0;
}
