#include "termination_signals.h"

#include <fcntl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace quillomir::linux_host {

namespace {

// The self-pipe's write end, for the handler; one set of signals per process.
volatile sig_atomic_t gWriteEnd = -1;

void WriteToPipe(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already says "stop": the byte may be dropped.
    [[maybe_unused]] const ssize_t ignored = ::write(gWriteEnd, &byte, 1);
    errno = saved;
}

sigset_t TerminationSet() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

TerminationSignals::TerminationSignals(SignalFdFunction makeSignalFd) {
    const sigset_t signals = TerminationSet();
    if (sigprocmask(SIG_BLOCK, &signals, &previousMask_) == 0) {
        fd_ = (makeSignalFd != nullptr ? makeSignalFd : ::signalfd)(-1, &signals,
                                                                    SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd_ >= 0) {
            kind_ = Kind::kSignalFd;
            return;
        }
        fd_ = -1;
    }
    // Blocked with nothing to read them, the signals could only be ended by
    // SIGKILL: unblock once the pipe's handler is in place (one pending from
    // before reaches it), also where they came blocked (a program that hands
    // over to another blocks them before its execv).
    UseSelfPipe();
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
}

bool TerminationSignals::UseSelfPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;  // the default action still ends the process
    }
    fd_ = ends[0];
    writeEnd_ = ends[1];
    gWriteEnd = writeEnd_;
    struct sigaction action {};
    action.sa_handler = WriteToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previousTerm_);
    sigaction(SIGINT, &action, &previousInt_);
    kind_ = Kind::kSelfPipe;
    return true;
}

TerminationSignals::~TerminationSignals() {
    switch (kind_) {
        case Kind::kSignalFd:
            Take();  // one that is still pending would kill the process as it unblocks
            sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
            break;
        case Kind::kSelfPipe:
            sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
            sigaction(SIGTERM, &previousTerm_, nullptr);
            sigaction(SIGINT, &previousInt_, nullptr);
            gWriteEnd = -1;
            ::close(writeEnd_);
            break;
        case Kind::kNone:
            break;
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TerminationSignals::Take() {
    bool arrived = false;
    if (kind_ == Kind::kSignalFd) {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            arrived = true;
        }
    } else if (kind_ == Kind::kSelfPipe) {
        char bytes[64];
        ssize_t got = 0;
        while ((got = ::read(fd_, bytes, sizeof bytes)) > 0) {
            arrived = true;
        }
    }
    return arrived;
}

}  // namespace quillomir::linux_host
