// The About box's behaviour: the version at load, the link, and its OK button.
#pragma once

#include <string>
#include <string_view>

#include "quillomir_version.h"
#include "settings/dialog_host.h"
#include "settings/shell.h"

namespace quillomir {

// The build's QUILLOMIR_HOMEPAGE: the label shows it and its click opens it.
inline constexpr std::string_view kHomepageAddress = QUILLOMIR_HOMEPAGE;
inline constexpr std::string_view kAuthorCredit = "by the Quillomir developers";
inline constexpr std::string_view kCpuAcknowledgement =
    "CPU load is worked out from the system's idle-time and system-time counters, "
    "read every ten seconds.";

// "Version " followed by major, "." and minor, as plain decimal numbers.
std::string VersionText(int major, int minor);

class frmAbout {
  public:
    frmAbout(DialogHost& host, Shell& shell);

    // Puts the program's own major and minor version into lblVersion.
    void Load();
    void Label3_Click();
    void Command1_Click();

    // Runs the handler of the named control; controls without one are ignored.
    void Click(std::string_view control);

  private:
    DialogHost& host_;
    Shell& shell_;
};

}  // namespace quillomir
