// Hands a web address to the user's default browser.
#pragma once

#include "settings/shell.h"

namespace quillomir::gtk_host {

class UriOpener : public Shell {
  public:
    // GTK's launcher (the desktop's handler for the address's scheme) first,
    // then xdg-open; a failure of both is ignored, as the About box wants.
    void Open(std::string_view address) override;
};

}  // namespace quillomir::gtk_host
