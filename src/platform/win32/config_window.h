// Configuration mode's windows: the settings dialog and its About box.
#pragma once

#include "app.h"

namespace quillomir::win32 {

// Shows the settings dialog, not modal; it registers itself with the app.
void ShowConfigDialog(App& app);

}  // namespace quillomir::win32
