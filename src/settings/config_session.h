// Configuration mode's two windows: the settings dialog and at most one About
// box, which may outlive it. The program ends when the last of them closes.
#pragma once

#include "settings/frm_config.h"

namespace quillomir {

// What the session asks of the platform's windows.
class ConfigWindows {
  public:
    virtual ~ConfigWindows() = default;

    // Creates and shows a new About box.
    virtual void OpenAbout() = 0;
    // Shows the open About box again, in front.
    virtual void RaiseAbout() = 0;
};

class ConfigSession : public AboutOpener {
  public:
    explicit ConfigSession(ConfigWindows& windows) : windows_(windows) {}

    void DialogOpened() { dialogOpen_ = true; }
    void DialogClosed() { dialogOpen_ = false; }
    void AboutClosed() { aboutOpen_ = false; }

    // The dialog's About button: a second press shows the same box.
    void ShowAbout() override;

    bool dialogOpen() const { return dialogOpen_; }
    bool aboutOpen() const { return aboutOpen_; }
    // No window of configuration mode is left: the program ends.
    bool ended() const { return !dialogOpen_ && !aboutOpen_; }

  private:
    ConfigWindows& windows_;
    bool dialogOpen_ = false;
    bool aboutOpen_ = false;
};

}  // namespace quillomir
