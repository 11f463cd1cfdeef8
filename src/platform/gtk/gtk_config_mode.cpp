#include "gtk_config_mode.h"

#include <gtk/gtk.h>

#include <functional>
#include <string_view>
#include <utility>

#include "gtk_layout_window.h"
#include "settings/config_layout.h"
#include "settings/config_mode.h"
#include "settings/frm_about.h"
#include "settings/frm_config.h"

namespace quillomir::gtk_host {

namespace {

// What the two windows are made from; it outlives them both.
struct GtkConfigContext {
    SettingsStore& store;
    Shell& shell;
};

// A window of the table's layout whose clicks go to a form, and which tells its
// owner when it is gone.
template <typename Form>
class FormWindow : private LayoutEvents {
  public:
    template <typename... FormArgs>
    FormWindow(const WindowLayout& layout, std::function<void()> closed, FormArgs&... formArgs)
        : window_(layout, *this), form_(window_, formArgs...), closed_(std::move(closed)) {}
    ~FormWindow() override {
        if (closedSource_ != 0) {
            g_source_remove(closedSource_);
        }
    }
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    bool Open() {
        window_.Create();
        form_.Load();
        window_.Show();
        return true;
    }
    void Raise() { window_.Show(); }

  private:
    void Clicked(std::string_view control) override { form_.Click(control); }

    // GTK is still inside the window's destruction here, so the owner hears of
    // it from the main loop, where it may delete this object.
    void Destroyed() override {
        if (closedSource_ == 0) {
            closedSource_ = g_idle_add(&FormWindow::TellClosed, this);
        }
    }

    static gboolean TellClosed(gpointer self) {
        auto* window = static_cast<FormWindow*>(self);
        window->closedSource_ = 0;
        const std::function<void()> closed = std::move(window->closed_);
        if (closed) {
            closed();  // may delete window: touch nothing after it
        }
        return G_SOURCE_REMOVE;
    }

    LayoutWindow window_;
    Form form_;
    std::function<void()> closed_;
    guint closedSource_ = 0;
};

class ConfigDialog : public FormWindow<frmConfig> {
  public:
    ConfigDialog(GtkConfigContext& context, AboutOpener& about, std::function<void()> closed)
        : FormWindow(kConfigLayout, std::move(closed), context.store, about) {}
};

class AboutBox : public FormWindow<frmAbout> {
  public:
    AboutBox(GtkConfigContext& context, std::function<void()> closed)
        : FormWindow(kAboutLayout, std::move(closed), context.shell) {}
};

}  // namespace

void RunConfigMode(SettingsStore& store, Shell& shell) {
    GtkConfigContext context{store, shell};
    ConfigMode<ConfigDialog, AboutBox, GtkConfigContext> mode(context, [] { gtk_main_quit(); });
    if (!mode.Start()) {
        return;
    }
    gtk_main();
    // Windows still open here were left by a signal; the mode closes them quietly.
}

}  // namespace quillomir::gtk_host
