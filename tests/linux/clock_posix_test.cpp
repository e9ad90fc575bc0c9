// The POSIX clock: what it does to the thread, and the last error it reports. How
// precise its waits are is the benchmark's business.
#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>
#include <thread>

#include "link/posix/clock_posix.h"
#include "link/posix/last_error_posix.h"

namespace {

std::int64_t MonotonicNanos() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

TEST(PosixClockTest, TheUpdateLowersTheTimerSlackAndPutsTheThreadsOwnBack) {
    ASSERT_EQ(prctl(PR_SET_TIMERSLACK, 123456UL, 0, 0, 0), 0);
    PosixClock clock;
    clock.BeginUpdatePeriod();
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
    clock.BeginUpdatePeriod();  // a second bracket must not take the lowered slack for the own
    clock.EndUpdatePeriod();
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 123456);
    clock.EndUpdatePeriod();
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 123456);
    prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // the default again
}

TEST(PosixClockTest, NoWaitIsShorterThanAsked) {
    PosixClock clock;
    for (bool updating : {false, true}) {
        if (updating) clock.BeginUpdatePeriod();
        for (std::uint32_t ms : {0u, 1u, 2u, 3u, 20u}) {
            SCOPED_TRACE(ms);
            const std::int64_t start = MonotonicNanos();
            clock.Sleep(ms);
            EXPECT_GE(MonotonicNanos() - start, std::int64_t{ms} * 1'000'000);
        }
        if (updating) clock.EndUpdatePeriod();
    }
}

TEST(PosixClockTest, LastErrorIsWhatTheSeamLeftOnThisThread) {
    PosixClock clock;
    SetPosixLastError(ENODEV);
    errno = EINTR;  // errno itself is not the seam's last error
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ENODEV));
    clock.Sleep(1);  // the wait after a failing step leaves the error for the report
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ENODEV));
    std::uint32_t otherThread = 99;
    std::thread([&] { otherThread = clock.LastError(); }).join();
    EXPECT_EQ(otherThread, 0u);
    SetPosixLastError(0);
    EXPECT_EQ(clock.LastError(), 0u);
}

}  // namespace
