// Configuration mode on GTK: the settings dialog and at most one About box,
// which may outlive it. The main loop ends when the last of them closes.
#pragma once

#include "settings/settings_store.h"
#include "settings/shell.h"

namespace quillomir::gtk_host {

// Opens the settings dialog and runs GTK's main loop until no window of
// configuration mode is left.
void RunConfigMode(SettingsStore& store, Shell& shell);

}  // namespace quillomir::gtk_host
