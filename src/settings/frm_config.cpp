#include "settings/frm_config.h"

#include "measure/sampler.h"
#include "settings/settings_keys.h"

namespace quillomir {

frmConfig::frmConfig(DialogHost& host, SettingsStore& settings, AboutOpener& about)
    : host_(host), settings_(settings), about_(about) {}

void frmConfig::Load() {
    // A stored value other than 0 or 1 shows the box unchecked, and OK then saves
    // 0: what the box shows is what gets saved.
    const std::int32_t display = ReadSetting(settings_, kDisplayValueKey);
    DisplayValue = display == 1 ? 1 : 0;
    if (display == 0 || display == 1) {
        host_.SetChecked("chkValue", display == 1);
    }

    CrawletMethod = static_cast<std::int16_t>(ReadSetting(settings_, kCrawletMethodKey));
    if (CrawletMethod == kMethodMemory) {
        host_.SetChecked("optMemory", true);
    }

    // A colour that no option offers is kept, and saved back unless the user
    // picks one; Blue keeps its initial selection meanwhile.
    CrawletColor = ReadSetting(settings_, kCrawletColorKey);
    for (const ColorOption& option : kColorOptions) {
        if (option.value == CrawletColor) {
            host_.SetChecked(option.control, true);
        }
    }
}

void frmConfig::chkValue_Click() {
    DisplayValue = host_.IsChecked("chkValue") ? 1 : 0;
}

void frmConfig::optBlue_Click() {
    CrawletColor = kBlueValue;
}

void frmConfig::optGreen_Click() {
    CrawletColor = kGreenValue;
}

void frmConfig::optPurple_Click() {
    CrawletColor = kPurpleValue;
}

void frmConfig::optRed_Click() {
    CrawletColor = kRedValue;
}

void frmConfig::optWhite_Click() {
    CrawletColor = kWhiteValue;
}

void frmConfig::CommandAbout_Click() {
    about_.ShowAbout();
}

void frmConfig::CommandOK_Click() {
    switch (SaveAll()) {
        case SaveOutcome::kSaved:
            host_.Close();
            return;
        case SaveOutcome::kNothingSaved:
            host_.ShowMessage(kSaveFailedMessage);
            return;
        case SaveOutcome::kPartlySaved:
            host_.ShowMessage(kPartlySavedMessage);
            return;
    }
}

SaveOutcome frmConfig::SaveAll() {
    const std::int16_t method = host_.IsChecked("optMemory") ? kMethodMemory : kMethodCpu;
    const SettingChange changes[] = {
        {kCrawletMethodKey, method},
        {kCrawletColorKey, CrawletColor},
        {kDisplayValueKey, DisplayValue},
    };
    return SaveSettingsTogether(settings_, changes);
}

void frmConfig::Click(std::string_view control) {
    struct Handler {
        std::string_view control;
        void (frmConfig::*run)();
    };
    static constexpr Handler kHandlers[] = {
        {"chkValue", &frmConfig::chkValue_Click},
        {"optBlue", &frmConfig::optBlue_Click},
        {"optGreen", &frmConfig::optGreen_Click},
        {"optPurple", &frmConfig::optPurple_Click},
        {"optRed", &frmConfig::optRed_Click},
        {"optWhite", &frmConfig::optWhite_Click},
        {"CommandAbout", &frmConfig::CommandAbout_Click},
        {"CommandOK", &frmConfig::CommandOK_Click},
    };
    for (const Handler& handler : kHandlers) {
        if (handler.control == control) {
            (this->*handler.run)();
            return;
        }
    }
}

}  // namespace quillomir
