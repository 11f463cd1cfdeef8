#include "x_run.h"

#include <X11/Xlib.h>

#include <cstdio>

#include "x_handles.h"
#include "x_saver.h"

namespace quillomir::x11 {

int RunSaver(const linux_host::SaverRun& run) {
    const linux_host::SaverOptions& options = run.options;
    DisplayHandle display(XOpenDisplay(options.display ? options.display->c_str() : nullptr));
    if (display.get() == nullptr) {
        std::fprintf(stderr, "quillomir: cannot open the X display \"%s\"\n",
                     options.display ? options.display->c_str() : XDisplayName(nullptr));
        return 1;
    }
    XSaver saver(display.get(), options, run.settings, run.counters, run.memory);
    if (!saver.ready()) {
        std::fprintf(stderr, "quillomir: %s\n", saver.error().c_str());
        return 1;
    }
    return saver.Run(run.signals);
}

}  // namespace quillomir::x11
