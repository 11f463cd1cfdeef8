// The X11 saver, whole: opens the display, runs the saver window, closes.
#pragma once

#include "linux/saver_run.h"

namespace quillomir::x11 {

// The exit status: 0 when the run ended normally, 1 when it could not run.
int RunSaver(const linux_host::SaverRun& run);

}  // namespace quillomir::x11
