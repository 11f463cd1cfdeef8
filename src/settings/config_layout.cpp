#include "settings/config_layout.h"

#include "settings/frm_about.h"

namespace quillomir {

namespace {

using enum ControlKind;

constexpr ControlEntry kConfigControls[] = {
    {Button, "CommandOK", "OK", {720, 2640, 1452, 492}, 0, ""},
    {Frame, "Frame1", "Crawlet Length", {120, 120, 2772, 2292}, 1, ""},
    {Frame, "Frame2", "Crawlet Color", {3000, 120, 1932, 2292}, 2, ""},
    {Label, "Label1", "Base on percentage:", {120, 360, 2532, 252}, 3, "Frame1"},
    {OptionButton, "optCPU", "CPU Utilization", {360, 720, 2292, 252}, 4, "Frame1", true},
    {OptionButton, "optMemory", "Memory Use", {360, 1080, 2292, 252}, 5, "Frame1"},
    {CheckBox, "chkValue", "Display current value", {120, 1680, 2532, 252}, 6, "Frame1"},
    {OptionButton, "optBlue", "Blue", {240, 360, 1452, 252}, 7, "Frame2", true},
    {OptionButton, "optRed", "Red", {240, 720, 1452, 252}, 8, "Frame2"},
    {OptionButton, "optGreen", "Green", {240, 1080, 1452, 252}, 9, "Frame2"},
    {OptionButton, "optWhite", "White", {240, 1800, 1452, 252}, 10, "Frame2"},
    {OptionButton, "optPurple", "Purple", {240, 1440, 1452, 252}, 11, "Frame2"},
    {Button, "CommandAbout", "About", {2880, 2640, 1452, 492}, 12, ""},
};

constexpr ControlFont kAboutTitleFont{kMsSansSerif, 13.8};
constexpr ControlFont kAboutTextFont{kMsSansSerif, 9.6};
constexpr ControlFont kAboutLinkFont{kMsSansSerif, 9.6, true};
constexpr ColorValue kLinkBlue = 0xFF0000;

constexpr ControlEntry kAboutControls[] = {
    {Label,
     "Label1",
     "Quillomir",
     {120, 120, 5772, 372},
     0,
     "",
     false,
     kAboutTitleFont,
     TextAlign::Center},
    {Label,
     "Label2",
     kAuthorCredit,
     {120, 960, 5772, 252},
     1,
     "",
     false,
     kAboutTextFont,
     TextAlign::Center},
    {Label,
     "Label3",
     kHomepageAddress,
     {120, 1320, 5772, 252},
     2,
     "",
     false,
     kAboutLinkFont,
     TextAlign::Center,
     kLinkBlue,
     false,
     true},
    {Label,
     "Label5",
     kCpuAcknowledgement,
     {120, 1800, 5772, 492},
     3,
     "",
     false,
     {},
     TextAlign::Center,
     std::nullopt,
     true},
    {Button, "Command1", "OK", {2160, 2640, 1572, 372}, 4, ""},
    {Label, "lblVersion", "Version x.x", {0, 600, 6012, 252}, 5, "", false, {}, TextAlign::Center},
};

}  // namespace

const WindowLayout kConfigLayout{"Quillomir", 5088, 3336, kConfigControls};
const WindowLayout kAboutLayout{"About Quillomir", 6048, 3192, kAboutControls};

const ControlEntry* WindowLayout::Find(std::string_view name) const {
    for (const ControlEntry& control : controls) {
        if (control.name == name) {
            return &control;
        }
    }
    return nullptr;
}

TwipRect WindowLayout::WindowRect(const ControlEntry& control) const {
    TwipRect rect = control.rect;
    if (const ControlEntry* frame = control.frame.empty() ? nullptr : Find(control.frame)) {
        const TwipRect outer = WindowRect(*frame);
        rect.left += outer.left;
        rect.top += outer.top;
    }
    return rect;
}

}  // namespace quillomir
