// Start-up: the command line's switch decides which window opens.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillomir {

inline constexpr std::string_view kApplicationTitle = "SCRNSAVE:Quillomir";

enum class Mode { Configuration, Run, Preview, Password, None };

// The mode that the argument text selects: only its first two characters count,
// upper-cased; an empty text means configuration.
Mode ModeFromArguments(std::string_view argumentText);

// The display settings start configuration mode as "/c:" and the decimal handle
// of their own window, which the dialog then belongs to. The handle as a plain
// number, or 0 when the text is not "/c:" and decimal digits (trailing blanks
// allowed) or the number does not fit 64 bits: then the dialog has no owner.
// Whether the number names a live window is for the host to check.
std::uint64_t OwnerWindowFromArguments(std::string_view argumentText);

// The command line after the program's name and the blanks that follow it. The
// name may be quoted, and then it ends at the closing quote.
std::string_view ArgumentText(std::string_view commandLine);

// What Main needs from the platform: the two windows it can open.
class StartupHost {
  public:
    virtual ~StartupHost() = default;

    // ownerWindow: the handle from "/c:", or 0 for none.
    virtual void ShowConfigDialog(std::uint64_t ownerWindow) = 0;
    virtual void ShowSaverWindow() = 0;
};

// Opens the window that the switch asks for, or none, and returns.
Mode Main(std::string_view argumentText, StartupHost& host);

}  // namespace quillomir
