// The settings dialog's behaviour: it shows the stored choices at load, follows
// the user's clicks in its members, and saves all three on OK.
#pragma once

#include <cstdint>
#include <string_view>

#include "crawlet/drawing_surface.h"
#include "settings/dialog_host.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace quillomir {

struct ColorOption {
    std::string_view control;
    ColorValue value;
};

inline constexpr ColorOption kColorOptions[] = {
    {"optRed", kRedValue},       {"optGreen", kGreenValue}, {"optBlue", kBlueValue},
    {"optPurple", kPurpleValue}, {"optWhite", kWhiteValue},
};

inline constexpr std::string_view kSaveFailedMessage =
    "The settings could not be saved. Press OK to try again, or close the window to leave "
    "them as they were.";
// When the earlier settings could not be put back either, nothing may be
// promised about what is stored.
inline constexpr std::string_view kPartlySavedMessage =
    "The settings could not be saved, and the earlier ones could not be put back: the "
    "settings may be partly saved. Press OK to try again.";

// Opens the About box, or shows the one already open.
class AboutOpener {
  public:
    virtual ~AboutOpener() = default;
    virtual void ShowAbout() = 0;
};

class frmConfig {
  public:
    frmConfig(DialogHost& host, SettingsStore& settings, AboutOpener& about);

    void Load();
    void chkValue_Click();
    void optBlue_Click();
    void optGreen_Click();
    void optPurple_Click();
    void optRed_Click();
    void optWhite_Click();
    void CommandAbout_Click();
    // Saves the three choices together and closes; when the store refuses one,
    // puts the others back, says so and stays open so that nothing looks saved
    // that was not.
    void CommandOK_Click();

    // Runs the handler of the named control; controls without one are ignored.
    void Click(std::string_view control);

    ColorValue CrawletColor = 0;
    std::int16_t DisplayValue = 0;
    // The method read at load; OK saves what the option buttons show instead.
    std::int16_t CrawletMethod = 0;

  private:
    SaveOutcome SaveAll();

    DialogHost& host_;
    SettingsStore& settings_;
    AboutOpener& about_;
};

}  // namespace quillomir
