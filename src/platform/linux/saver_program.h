// The display system a build of the saver runs. The saver is two programs
// over one entry (../saver_entry), both named `quillomir`: one with the X11
// host, and one with the Wayland host in a folder of its own, so that the X11
// saver never maps libwayland-client (which would take it over its memory
// budget) and an idle daemon's `pkill -x quillomir` finds either from its
// first instruction. Each host defines kSaverProgram, and the entry is linked
// with one of them: it picks the display system and, when that is the other
// one, hands over to the sibling program.
#pragma once

#include "saver_options.h"
#include "saver_run.h"

namespace quillomir::linux_host {

struct SaverProgram {
    DisplaySystem system;  // the one this program runs
    const char* part;      // "X11" or "Wayland", for messages
    const char* sibling;   // the same for the program that runs the other
    int (*run)(const SaverRun& run);
};

extern const SaverProgram kSaverProgram;

}  // namespace quillomir::linux_host
