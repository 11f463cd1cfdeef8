// The About box: frmAbout on a window rendered from its layout table.
#pragma once

#include <functional>

#include "app.h"
#include "layout_window.h"
#include "settings/frm_about.h"
#include "settings/shell.h"

namespace quillomir::win32 {

class AboutWindow : private LayoutEvents {
  public:
    // `closed` runs once the window is gone, and may delete this object.
    AboutWindow(App& app, Shell& shell, std::function<void()> closed);

    // Creates the window, runs the load and shows it; false when it could not.
    bool Open();
    // Shows the open box again, in front.
    void Raise() { window_.Show(); }

  private:
    void Clicked(std::string_view control) override { form_.Click(control); }
    void Destroyed() override;

    LayoutWindow window_;
    frmAbout form_;
    std::function<void()> closed_;
};

}  // namespace quillomir::win32
