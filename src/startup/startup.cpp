#include "startup/startup.h"

#include <limits>
#include <string>

namespace quillomir {

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

Mode ModeFromArguments(std::string_view argumentText) {
    const std::string_view head = argumentText.substr(0, 2);
    if (head.empty()) {
        return Mode::Configuration;
    }
    std::string switchText{AsciiUpper(head[0])};
    if (head.size() > 1) {
        switchText += AsciiUpper(head[1]);
    }
    if (switchText == "/C")
        return Mode::Configuration;
    if (switchText == "/S")
        return Mode::Run;
    if (switchText == "/P")
        return Mode::Preview;
    if (switchText == "/A")
        return Mode::Password;
    return Mode::None;
}

std::uint64_t OwnerWindowFromArguments(std::string_view argumentText) {
    if (argumentText.size() < 3 || ModeFromArguments(argumentText) != Mode::Configuration ||
        argumentText[2] != ':') {
        return 0;
    }
    std::string_view digits = argumentText.substr(3);
    while (!digits.empty() && IsBlank(digits.back())) {
        digits.remove_suffix(1);
    }
    if (digits.empty()) {
        return 0;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) {
            return 0;  // a handle that no window can have
        }
        value = value * 10 + digit;
    }
    return value;
}

std::string_view ArgumentText(std::string_view commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        const std::size_t close = commandLine.find('"', 1);
        i = (close == std::string_view::npos) ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && !IsBlank(commandLine[i])) {
            ++i;
        }
    }
    while (i < commandLine.size() && IsBlank(commandLine[i])) {
        ++i;
    }
    return commandLine.substr(i);
}

Mode Main(std::string_view argumentText, StartupHost& host) {
    const Mode mode = ModeFromArguments(argumentText);
    switch (mode) {
        case Mode::Configuration:
            host.ShowConfigDialog(OwnerWindowFromArguments(argumentText));
            break;
        case Mode::Run:
            host.ShowSaverWindow();
            break;
        case Mode::Preview:
        case Mode::Password:
        case Mode::None:
            break;
    }
    return mode;
}

}  // namespace quillomir
