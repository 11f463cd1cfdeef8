#include "display_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace quillomir::linux_host {
namespace {

// A pipe stands in for the display connection.
TEST(DisplayWait, TellsTheTimeoutAReadableOrClosedDisplayAndASignalApart) {
    TerminationSignals signals;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);

    WaitResult woke = WaitForDisplay(ends[0], signals, 10);
    EXPECT_FALSE(woke.readable || woke.hungUp || woke.terminated || woke.failed);

    ASSERT_EQ(write(ends[1], "x", 1), 1);
    woke = WaitForDisplay(ends[0], signals, 1000);
    EXPECT_TRUE(woke.readable);
    EXPECT_FALSE(woke.terminated);

    char byte = 0;
    ASSERT_EQ(read(ends[0], &byte, 1), 1);
    raise(SIGTERM);
    woke = WaitForDisplay(ends[0], signals, 1000);
    EXPECT_TRUE(woke.terminated);
    EXPECT_FALSE(woke.readable);

    close(ends[1]);
    woke = WaitForDisplay(ends[0], signals, 1000);
    EXPECT_TRUE(woke.hungUp) << "the other end is gone";
    close(ends[0]);
}

}  // namespace
}  // namespace quillomir::linux_host
