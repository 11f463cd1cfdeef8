// Start-up: the command line's switch decides which window opens.
#pragma once

#include <string_view>

namespace quillomir {

inline constexpr std::string_view kApplicationTitle = "SCRNSAVE:Quillomir";

enum class Mode { Configuration, Run, Preview, Password, None };

// The mode that the argument text selects: only its first two characters count,
// upper-cased; an empty text means configuration.
Mode ModeFromArguments(std::string_view argumentText);

// The command line after the program's name and the blanks that follow it. The
// name may be quoted, and then it ends at the closing quote.
std::string_view ArgumentText(std::string_view commandLine);

// What Main needs from the platform: the two windows it can open.
class StartupHost {
  public:
    virtual ~StartupHost() = default;

    virtual void ShowConfigDialog() = 0;
    virtual void ShowSaverWindow() = 0;
};

// Opens the window that the switch asks for, or none, and returns.
Mode Main(std::string_view argumentText, StartupHost& host);

}  // namespace quillomir
