#include <sys/prctl.h>

#include "host.h"
#include "wayland/wl_run.h"

namespace quillomir::saver_entry {

namespace {

// The process goes by the command's name, so that an idle daemon's resume
// command (pkill -x quillomir) finds it whichever program it started.
void NameTheProcess() {
    prctl(PR_SET_NAME, "quillomir", 0, 0, 0);
}

}  // namespace

const Host kHost{linux_host::DisplaySystem::Wayland, "quillomir", NameTheProcess,
                 wayland::RunSaver};

}  // namespace quillomir::saver_entry
