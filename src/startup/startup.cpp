#include "startup/startup.h"

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
            host.ShowConfigDialog();
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
