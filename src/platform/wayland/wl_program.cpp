#include <sys/prctl.h>

#include "linux/saver_program.h"
#include "wayland/wl_run.h"

namespace quillomir::linux_host {

namespace {

// The process goes by the command's name, so that an idle daemon's resume
// command (pkill -x quillomir) finds it whichever program it started.
void NameTheProcess() {
    prctl(PR_SET_NAME, "quillomir", 0, 0, 0);
}

}  // namespace

const SaverProgram kSaverProgram{DisplaySystem::Wayland, "quillomir", NameTheProcess,
                                 wayland::RunSaver};

}  // namespace quillomir::linux_host
