#include "linux/saver_program.h"
#include "x11/x_run.h"

namespace quillomir::linux_host {

const SaverProgram kSaverProgram{DisplaySystem::X11, "quillomir-wayland", [] {}, x11::RunSaver};

}  // namespace quillomir::linux_host
