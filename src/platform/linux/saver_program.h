// The display system a build of the saver runs. The saver is two programs
// over one entry (../saver_entry): `quillomir` with the X11 host and
// `quillomir-wayland` with the Wayland host, so that the X11 saver never maps
// libwayland-client (which would take it over its memory budget). Each host
// defines kSaverProgram, and the entry is linked with one of them: it picks
// the display system and, when that is the other one, hands over to the
// sibling program beside it.
#pragma once

#include "saver_options.h"
#include "saver_run.h"

namespace quillomir::linux_host {

struct SaverProgram {
    DisplaySystem system;  // the one this program runs
    const char* sibling;   // the program that runs the other
    // Called before anything else is set up.
    void (*prepare)();
    int (*run)(const SaverRun& run);
};

extern const SaverProgram kSaverProgram;

}  // namespace quillomir::linux_host
