#include "settings/config_session.h"

namespace quillomir {

void ConfigSession::ShowAbout() {
    if (aboutOpen_) {
        windows_.RaiseAbout();
        return;
    }
    aboutOpen_ = true;
    windows_.OpenAbout();
}

}  // namespace quillomir
