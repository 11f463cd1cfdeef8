#include "config_window.h"

#include <functional>
#include <limits>
#include <memory>
#include <utility>

#include "about_window.h"
#include "layout_window.h"
#include "registry_store.h"
#include "settings/config_session.h"
#include "settings/frm_config.h"
#include "shell_open.h"

namespace quillomir::win32 {

namespace {

// The settings dialog: frmConfig on a window rendered from its layout table.
class ConfigDialog : private LayoutEvents {
  public:
    ConfigDialog(App& app, SettingsStore& store, AboutOpener& about, std::function<void()> closed)
        : window_(app, kConfigLayout, *this),
          form_(window_, store, about),
          closed_(std::move(closed)) {}

    bool Open(HWND owner) {
        if (!window_.Create(owner)) {
            return false;
        }
        form_.Load();
        window_.Show();
        return true;
    }

  private:
    void Clicked(std::string_view control) override { form_.Click(control); }
    void Destroyed() override {
        const std::function<void()> closed = std::move(closed_);
        if (closed) {
            closed();  // deletes this object
        }
    }

    LayoutWindow window_;
    frmConfig form_;
    std::function<void()> closed_;
};

// Configuration mode: owns the store, the shell, the dialog and the About box,
// and deletes itself when the last of the two windows is gone. The app counts
// the same windows and ends the message loop then.
class ConfigMode : private ConfigWindows {
  public:
    explicit ConfigMode(App& app) : app_(app), session_(*this) {}

    // Takes ownership of itself: it lives until its last window closes.
    static void Start(App& app, HWND owner) {
        auto* mode = new ConfigMode(app);
        mode->dialog_ = std::make_unique<ConfigDialog>(app, mode->store_, mode->session_,
                                                       [mode] { mode->DialogClosed(); });
        mode->session_.DialogOpened();
        if (!mode->dialog_->Open(owner)) {
            mode->dialog_.reset();
            mode->session_.DialogClosed();
            mode->EndIfLast();
        }
    }

  private:
    void OpenAbout() override {
        about_ = std::make_unique<AboutWindow>(app_, shell_, [this] { AboutClosed(); });
        if (!about_->Open()) {
            about_.reset();
            session_.AboutClosed();
        }
    }

    void RaiseAbout() override {
        if (about_) {
            about_->Raise();
        }
    }

    void DialogClosed() {
        dialog_.reset();
        session_.DialogClosed();
        EndIfLast();
    }

    void AboutClosed() {
        about_.reset();
        session_.AboutClosed();
        EndIfLast();
    }

    void EndIfLast() {
        if (session_.ended()) {
            delete this;
        }
    }

    App& app_;
    RegistryStore store_;
    ShellExecuteOpener shell_;
    ConfigSession session_;
    std::unique_ptr<ConfigDialog> dialog_;
    std::unique_ptr<AboutWindow> about_;
};

// The handle as a window of this process's width, if it names a live window.
// Any process's window will do: the display settings run in another one.
HWND LiveWindow(std::uint64_t handle) {
    if (handle == 0 || handle > std::numeric_limits<UINT_PTR>::max()) {
        return nullptr;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<UINT_PTR>(handle));
    return IsWindow(window) ? window : nullptr;
}

}  // namespace

void ShowConfigDialog(App& app, std::uint64_t ownerWindow) {
    ConfigMode::Start(app, LiveWindow(ownerWindow));
}

}  // namespace quillomir::win32
