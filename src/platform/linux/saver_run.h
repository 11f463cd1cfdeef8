// What the program's entry hands to the host it picked (X11 or Wayland):
// the options, the settings to read, the load sources and the signals that
// end the run. Each host offers one function that takes it and returns the
// exit status.
#pragma once

#include "measure/counter_source.h"
#include "saver_options.h"
#include "settings/settings_store.h"
#include "termination_signals.h"

namespace quillomir::linux_host {

struct SaverRun {
    const SaverOptions& options;
    SettingsStore& settings;
    CounterSource& counters;
    MemorySource& memory;
    TerminationSignals& signals;
};

}  // namespace quillomir::linux_host
