// SIGTERM must end the saver through its loop whether or not the kernel gave
// a signalfd, and nothing may stay blocked afterwards.
#include "termination_signals.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>

namespace quillomir::linux_host {
namespace {

int FailingSignalFd(int, const sigset_t*, int) {
    errno = EMFILE;
    return -1;
}

bool Blocked(int signal) {
    sigset_t now;
    sigprocmask(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, signal) == 1;
}

class TerminationSignalsTest : public testing::TestWithParam<TerminationSignals::SignalFdFunction> {
};

TEST_P(TerminationSignalsTest, ASignalWakesTheLoopAndNothingStaysBlocked) {
    for (const int signal : {SIGTERM, SIGINT}) {
        {
            TerminationSignals signals(GetParam());
            ASSERT_GE(signals.fd(), 0);
            EXPECT_FALSE(signals.Take()) << "nothing has arrived yet";
            raise(signal);
            pollfd fd{signals.fd(), POLLIN, 0};
            ASSERT_EQ(poll(&fd, 1, 2000), 1) << "the loop would not wake";
            EXPECT_TRUE(signals.Take());
            EXPECT_FALSE(signals.Take()) << "one signal, one stop";
        }
        EXPECT_FALSE(Blocked(signal));
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    }
}

// A program that hands the run over blocks the signals before its execv, so
// that none lands in between; the next one must still hear them.
TEST_P(TerminationSignalsTest, SignalsThatCameBlockedStillWakeTheLoop) {
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGTERM);
    sigaddset(&both, SIGINT);
    sigprocmask(SIG_BLOCK, &both, nullptr);
    raise(SIGTERM);  // pending from before, as across the execv
    {
        TerminationSignals signals(GetParam());
        ASSERT_GE(signals.fd(), 0);
        pollfd fd{signals.fd(), POLLIN, 0};
        ASSERT_EQ(poll(&fd, 1, 2000), 1) << "the signal from before was lost";
        EXPECT_TRUE(signals.Take());
        raise(SIGINT);
        ASSERT_EQ(poll(&fd, 1, 2000), 1) << "a later signal was not heard";
        EXPECT_TRUE(signals.Take());
    }
    EXPECT_TRUE(Blocked(SIGTERM)) << "the caller's mask was not given back";
    sigprocmask(SIG_UNBLOCK, &both, nullptr);
}

INSTANTIATE_TEST_SUITE_P(SignalFdOrSelfPipe, TerminationSignalsTest,
                         testing::Values(nullptr, &FailingSignalFd));

}  // namespace
}  // namespace quillomir::linux_host
