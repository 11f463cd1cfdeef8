// Configuration mode: the settings dialog and at most one About box beside it,
// neither modal. This is the one owner of both windows: the dialog's About
// button asks it for the box, each window tells it when it is gone, and the mode
// ends when the last of the two has closed. The About box may outlive the dialog.
#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "settings/frm_config.h"

namespace quillomir {

// Dialog and About are the host's windows, made from the host's Context:
//   Dialog(Context&, AboutOpener&, std::function<void()> closed)
//   About(Context&, std::function<void()> closed)
// Both have `bool Open()`, false when the platform refused the window, and About
// has `void Raise()`, which shows it again in front. A window runs `closed` once
// it is gone, as its last act: the mode destroys the window object in it.
template <typename Dialog, typename About, typename Context>
class ConfigMode final : public AboutOpener {
  public:
    // `ended` runs when the last window that opened has closed.
    ConfigMode(Context& context, std::function<void()> ended)
        : context_(context), ended_(std::move(ended)) {}
    ConfigMode(const ConfigMode&) = delete;
    ConfigMode& operator=(const ConfigMode&) = delete;

    // Opens the settings dialog; false when it could not be shown, and then
    // nothing is open and the mode will not end by itself.
    bool Start() {
        dialog_.emplace(context_, *this, [this] { Closed(dialog_); });
        if (!dialog_->Open()) {
            dialog_.reset();
            return false;
        }
        return true;
    }

    // The dialog's About button: a second press shows the same box again.
    void ShowAbout() override {
        if (about_) {
            about_->Raise();
            return;
        }
        about_.emplace(context_, [this] { Closed(about_); });
        if (!about_->Open()) {
            about_.reset();  // the dialog stays; a later press tries again
        }
    }

    // A window of the mode is open, so the program has something to wait for.
    bool open() const { return dialog_.has_value() || about_.has_value(); }

  private:
    template <typename Window>
    void Closed(std::optional<Window>& window) {
        window.reset();
        if (!open() && ended_) {
            ended_();
        }
    }

    Context& context_;
    std::function<void()> ended_;
    std::optional<Dialog> dialog_;
    std::optional<About> about_;
};

}  // namespace quillomir
