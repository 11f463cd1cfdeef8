#include "display_wait.h"

#include <poll.h>

#include <cerrno>

namespace quillomir::linux_host {

WaitResult WaitForDisplay(int displayFd, TerminationSignals& signals, std::optional<int> timeoutMs,
                          bool wantWrite) {
    WaitResult result;
    const int signalFd = signals.fd();
    const short displayEvents = static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0));
    pollfd fds[2] = {{displayFd, displayEvents, 0}, {signalFd, POLLIN, 0}};
    const int ready = poll(fds, signalFd >= 0 ? 2 : 1, timeoutMs.value_or(-1));
    if (ready < 0) {
        result.failed = errno != EINTR;
        return result;
    }
    result.readable = (fds[0].revents & POLLIN) != 0;
    result.hungUp = (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    if (signalFd >= 0 && (fds[1].revents & POLLIN) != 0) {
        result.terminated = signals.Take();
    }
    return result;
}

}  // namespace quillomir::linux_host
