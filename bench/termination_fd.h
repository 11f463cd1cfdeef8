// SIGTERM and SIGINT as a descriptor for the Linux floors' poll, as the saver
// takes them: blocked, then read from a signalfd, so that the bench's stop ends
// each floor between two wakes and never inside a draw.
#pragma once

#include <signal.h>
#include <sys/signalfd.h>

namespace bench {

inline int TerminationSignalFd() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

}  // namespace bench
