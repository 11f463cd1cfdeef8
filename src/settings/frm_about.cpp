#include "settings/frm_about.h"

namespace quillomir {

std::string VersionText(int major, int minor) {
    return "Version " + std::to_string(major) + "." + std::to_string(minor);
}

frmAbout::frmAbout(DialogHost& host, Shell& shell) : host_(host), shell_(shell) {}

void frmAbout::Load() {
    host_.SetCaption("lblVersion", VersionText(QUILLOMIR_VERSION_MAJOR, QUILLOMIR_VERSION_MINOR));
}

void frmAbout::Label3_Click() {
    shell_.Open(kHomepageAddress);
}

void frmAbout::Command1_Click() {
    host_.Close();
}

void frmAbout::Click(std::string_view control) {
    if (control == "Label3") {
        Label3_Click();
    } else if (control == "Command1") {
        Command1_Click();
    }
}

}  // namespace quillomir
