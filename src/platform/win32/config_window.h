// Configuration mode's windows: the settings dialog and its About box, each a
// form on a window rendered from its layout table.
#pragma once

#include <cstdint>
#include <functional>

#include "app.h"
#include "form_window.h"
#include "registry_store.h"
#include "settings/config_mode.h"
#include "settings/frm_about.h"
#include "settings/frm_config.h"
#include "shell_open.h"

namespace quillomir::win32 {

// What the two windows are made from; it outlives them both.
struct ConfigContext {
    explicit ConfigContext(App& app) : app(app) {}

    App& app;
    RegistryStore store;
    ShellExecuteOpener shell;
    // The display settings' window from "/c:", which the dialog belongs to;
    // null for a dialog on its own.
    HWND owner = nullptr;
};

// The handle from "/c:" as a window of this process's width, when it names a
// live window; null otherwise (0 included).
HWND LiveWindow(std::uint64_t handle);

class ConfigDialog : public FormWindow<frmConfig> {
  public:
    ConfigDialog(ConfigContext& context, AboutOpener& about, std::function<void()> closed);
};

class AboutWindow : public FormWindow<frmAbout> {
  public:
    AboutWindow(ConfigContext& context, std::function<void()> closed);
};

using Win32ConfigMode = ConfigMode<ConfigDialog, AboutWindow, ConfigContext>;

}  // namespace quillomir::win32
