// SIGTERM and SIGINT as a descriptor that an event loop polls, so that a
// screen saver's "stop" unloads the form and exits 0 instead of killing the
// process mid-draw. Whatever step fails, the signals are never left blocked
// without something that reads them: the fallback is a self-pipe, and the last
// resort the signals' default action.
#pragma once

#include <signal.h>

namespace quillomir::linux_host {

class TerminationSignals {
  public:
    // The kernel's signalfd, or a stand-in that tests make fail.
    using SignalFdFunction = int (*)(int fd, const sigset_t* mask, int flags);

    explicit TerminationSignals(SignalFdFunction makeSignalFd = nullptr);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // Readable once SIGTERM or SIGINT has arrived; -1 when neither a signalfd
    // nor a pipe could be made (the signals then keep their default action).
    int fd() const { return fd_; }
    // Reads what is pending on fd(); true when a termination signal was among it.
    bool Take();

  private:
    enum class Kind { kNone, kSignalFd, kSelfPipe };

    bool UseSelfPipe();

    Kind kind_ = Kind::kNone;
    int fd_ = -1;
    int writeEnd_ = -1;
    sigset_t previousMask_{};
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
};

}  // namespace quillomir::linux_host
