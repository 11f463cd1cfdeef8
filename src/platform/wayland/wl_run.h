// The Wayland saver, whole: connects to the compositor, runs the saver on its
// outputs, disconnects.
#pragma once

#include "linux/saver_run.h"

namespace quillomir::wayland {

// The exit status: 0 when the run ended normally, 1 when it could not run or
// the compositor went away.
int RunSaver(const linux_host::SaverRun& run);

}  // namespace quillomir::wayland
