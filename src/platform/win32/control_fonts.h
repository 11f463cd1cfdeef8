// The fonts that laid-out controls use, made for a given DPI.
#pragma once

#include <windows.h>

#include "scoped_win.h"
#include "settings/config_layout.h"

namespace quillomir::win32 {

// The system's message font (the one dialogs use) at the given DPI.
ScopedFont CreateDialogFont(UINT dpi);

// A control's dialog font that follows its window's DPI. Each new DPI makes
// the font again; the old one is deleted only once the control holds the new.
class DpiDialogFont {
  public:
    // Makes the message font at `dpi` and gives it to the control, if there is
    // one. When no font can be made the control keeps the one it has, and
    // false is returned.
    bool Apply(HWND control, UINT dpi);
    HFONT get() const { return font_.get(); }

  private:
    ScopedFont font_;
};

// The control's own font at the given DPI. A face that is not installed gives
// way to Microsoft Sans Serif, and failing that to the dialog font's face.
ScopedFont CreateControlFont(const ControlFont& wanted, UINT dpi);

}  // namespace quillomir::win32
