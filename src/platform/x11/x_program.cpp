#include "linux/saver_program.h"
#include "x11/x_run.h"

namespace quillomir::linux_host {

const SaverProgram kSaverProgram{DisplaySystem::X11, "X11", "Wayland", x11::RunSaver};

}  // namespace quillomir::linux_host
