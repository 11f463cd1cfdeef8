#include "linux/saver_program.h"
#include "wayland/wl_run.h"

namespace quillomir::linux_host {

const SaverProgram kSaverProgram{DisplaySystem::Wayland, "Wayland", "X11", wayland::RunSaver};

}  // namespace quillomir::linux_host
