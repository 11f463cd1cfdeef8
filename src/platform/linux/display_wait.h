// The one place where a Linux saver sleeps: a poll on its display connection
// and on the termination signals, until the next timer is due. Both hosts
// (X11 and Wayland) run their loops around it.
#pragma once

#include <optional>

#include "termination_signals.h"

namespace quillomir::linux_host {

struct WaitResult {
    bool readable = false;    // the display connection has something to read
    bool hungUp = false;      // the connection was closed or failed
    bool terminated = false;  // SIGTERM or SIGINT arrived
    bool failed = false;      // poll itself failed (not for a signal)
};

// Waits until the display's descriptor is readable (or writable too, when
// `wantWrite`: requests that did not fit in the socket wait for it), a
// termination signal arrives, or `timeoutMs` passes (none: no timer runs).
WaitResult WaitForDisplay(int displayFd, TerminationSignals& signals, std::optional<int> timeoutMs,
                          bool wantWrite = false);

}  // namespace quillomir::linux_host
