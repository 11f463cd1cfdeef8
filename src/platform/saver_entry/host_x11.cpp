#include "host.h"
#include "x11/x_run.h"

namespace quillomir::saver_entry {

const Host kHost{linux_host::DisplaySystem::X11, "quillomir-wayland", [] {}, x11::RunSaver};

}  // namespace quillomir::saver_entry
