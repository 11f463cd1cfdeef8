#include "config_mode.h"

#include <gtk/gtk.h>

#include <memory>

#include "layout_window.h"
#include "settings/config_layout.h"
#include "settings/config_session.h"
#include "settings/frm_about.h"
#include "settings/frm_config.h"

namespace quillomir::gtk_host {

namespace {

// A window of the table's layout whose clicks go to a form, and which says so
// to its owner when it is gone.
template <typename Form, typename... FormArgs>
class FormWindow : private LayoutEvents {
  public:
    FormWindow(const WindowLayout& layout, void (*closed)(void*), void* owner, FormArgs&... args)
        : window_(layout, *this), form_(window_, args...), closed_(closed), owner_(owner) {}

    void Open() {
        window_.Create();
        form_.Load();
        window_.Show();
    }
    void Raise() { window_.Show(); }

  private:
    void Clicked(std::string_view control) override { form_.Click(control); }
    void Destroyed() override { closed_(owner_); }  // may delete this

    LayoutWindow window_;
    Form form_;
    void (*closed_)(void*);
    void* owner_;
};

using ConfigDialog = FormWindow<frmConfig, SettingsStore, AboutOpener>;
using AboutBox = FormWindow<frmAbout, Shell>;

class ConfigMode : private ConfigWindows {
  public:
    ConfigMode(SettingsStore& store, Shell& shell)
        : store_(store), shell_(shell), session_(*this) {}

    void Run() {
        AboutOpener& opener = session_;
        dialog_ = std::make_unique<ConfigDialog>(kConfigLayout, &ConfigMode::DialogClosed, this,
                                                 store_, opener);
        session_.DialogOpened();
        dialog_->Open();
        gtk_main();
        // Windows still open here were left by a signal; they close quietly.
        if (clearSource_ != 0) {
            g_source_remove(clearSource_);
        }
        about_.reset();
        dialog_.reset();
    }

  private:
    void OpenAbout() override {
        about_ = std::make_unique<AboutBox>(kAboutLayout, &ConfigMode::AboutClosed, this, shell_);
        about_->Open();
    }

    void RaiseAbout() override {
        if (about_) {
            about_->Raise();
        }
    }

    static void DialogClosed(void* self) {
        auto* mode = static_cast<ConfigMode*>(self);
        // Deleted later: the window that tells us is still inside its own destruction.
        mode->retiredDialog_ = std::move(mode->dialog_);
        mode->ClearRetiredLater();
        mode->session_.DialogClosed();
        mode->EndIfLast();
    }

    static void AboutClosed(void* self) {
        auto* mode = static_cast<ConfigMode*>(self);
        mode->retiredAbout_ = std::move(mode->about_);
        mode->ClearRetiredLater();
        mode->session_.AboutClosed();
        mode->EndIfLast();
    }

    void ClearRetiredLater() {
        if (clearSource_ == 0) {
            clearSource_ = g_idle_add(&ConfigMode::ClearRetired, this);
        }
    }

    static gboolean ClearRetired(gpointer self) {
        auto* mode = static_cast<ConfigMode*>(self);
        mode->clearSource_ = 0;
        mode->retiredDialog_.reset();
        mode->retiredAbout_.reset();
        return G_SOURCE_REMOVE;
    }

    void EndIfLast() {
        if (session_.ended()) {
            gtk_main_quit();
        }
    }

    SettingsStore& store_;
    Shell& shell_;
    ConfigSession session_;
    std::unique_ptr<ConfigDialog> dialog_;
    std::unique_ptr<AboutBox> about_;
    // Windows that have closed, deleted once their destruction has returned.
    std::unique_ptr<ConfigDialog> retiredDialog_;
    std::unique_ptr<AboutBox> retiredAbout_;
    guint clearSource_ = 0;
};

}  // namespace

void RunConfigMode(SettingsStore& store, Shell& shell) {
    ConfigMode mode(store, shell);
    mode.Run();
}

}  // namespace quillomir::gtk_host
