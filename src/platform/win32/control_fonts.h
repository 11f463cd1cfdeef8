// The fonts that laid-out controls use, made for a given DPI.
#pragma once

#include <windows.h>

#include "scoped_win.h"
#include "settings/config_layout.h"

namespace quillomir::win32 {

// The system's message font (the one dialogs use) at the given DPI.
ScopedFont CreateDialogFont(UINT dpi);

// The control's own font at the given DPI. A face that is not installed gives
// way to Microsoft Sans Serif, and failing that to the dialog font's face.
ScopedFont CreateControlFont(const ControlFont& wanted, UINT dpi);

}  // namespace quillomir::win32
