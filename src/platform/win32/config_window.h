// Configuration mode's windows: the settings dialog and its About box.
#pragma once

#include <cstdint>

#include "app.h"

namespace quillomir::win32 {

// Shows the settings dialog, not modal; it registers itself with the app.
// ownerWindow: the display settings' window from "/c:"; the dialog belongs to it
// when it is a live window, and is on its own otherwise (0 included).
void ShowConfigDialog(App& app, std::uint64_t ownerWindow = 0);

}  // namespace quillomir::win32
