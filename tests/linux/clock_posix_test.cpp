// The POSIX clock: what it does to the thread, the margin it learns from wake-ups, and
// the last error it reports. How precise its waits are is the benchmark's business.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <thread>
#include <vector>

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

// The calling thread's time slice as the kernel reports it (the runtime field of the
// first sched_attr version), or -1 when it reports none.
std::int64_t TimeSlice() {
    struct {
        std::uint32_t size, policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
    } attr{};
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return -1;
    return static_cast<std::int64_t>(attr.runtime);
}

TEST(PosixClockTest, TheUpdateShortensTheTimeSliceAndPutsTheThreadsOwnBack) {
    const std::int64_t own = TimeSlice();
    PosixClock clock;
    clock.BeginUpdatePeriod();
    const std::int64_t during = TimeSlice();
    if (during <= 0 || during == own) {
        clock.EndUpdatePeriod();
        GTEST_SKIP() << "this kernel keeps no time slice per task";
    }
    EXPECT_EQ(during, static_cast<std::int64_t>(PosixClock::UPDATE_SLICE_NANOS));
    clock.BeginUpdatePeriod();  // a second bracket must not take the short slice for the own
    clock.EndUpdatePeriod();
    EXPECT_EQ(TimeSlice(), own);
    clock.EndUpdatePeriod();
    EXPECT_EQ(TimeSlice(), own);
}

struct MarginCase {
    const char* name;
    std::vector<std::int64_t> lateness;  // nanoseconds, oldest first
    std::int64_t margin;
};

std::vector<std::int64_t> Repeated(std::int64_t value, std::size_t times) {
    return std::vector<std::int64_t>(times, value);
}

std::vector<std::int64_t> Then(std::vector<std::int64_t> first, const std::vector<std::int64_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A window of mostly ordinary wake-ups with a few very late ones among them.
std::vector<std::int64_t> WithOutliers(std::int64_t usual, std::int64_t late, std::size_t lateOnes) {
    std::vector<std::int64_t> values;
    for (std::size_t i = 0; i < WakeUpMargin::WINDOW; ++i) {
        values.push_back(i % (WakeUpMargin::WINDOW / lateOnes) == 0 ? late : usual);
    }
    return values;
}

TEST(WakeUpMarginTest, CoversMostRecentWakeUpsWithinItsBounds) {
    const std::int64_t pad = WakeUpMargin::PAD_NANOS;
    const MarginCase cases[] = {
        {"nothing seen yet", {}, WakeUpMargin::FIRST_NANOS},
        {"too few seen to judge", Repeated(80'000, WakeUpMargin::ENOUGH - 1), WakeUpMargin::FIRST_NANOS},
        {"steady wake-ups", Repeated(80'000, WakeUpMargin::WINDOW), 80'000 + pad},
        {"enough seen, window not yet full", Repeated(120'000, WakeUpMargin::ENOUGH), 120'000 + pad},
        {"punctual wake-ups keep the least", Repeated(0, WakeUpMargin::WINDOW), WakeUpMargin::LEAST_NANOS},
        {"early ones count as punctual", Repeated(-5'000'000, WakeUpMargin::WINDOW), WakeUpMargin::LEAST_NANOS},
        {"late ones are not chased past the most", Repeated(4'000'000, WakeUpMargin::WINDOW),
         WakeUpMargin::MOST_NANOS},
        {"a few very late ones are not chased", WithOutliers(60'000, 3'000'000, 4), 60'000 + pad},
        {"the window forgets a busy spell",
         Then(Repeated(400'000, WakeUpMargin::WINDOW), Repeated(50'000, WakeUpMargin::WINDOW)), 50'000 + pad},
        {"and learns a new one",
         Then(Repeated(50'000, WakeUpMargin::WINDOW), Repeated(300'000, WakeUpMargin::WINDOW)), 300'000 + pad},
    };
    for (const MarginCase& c : cases) {
        SCOPED_TRACE(c.name);
        WakeUpMargin margin;
        for (std::int64_t late : c.lateness) margin.Note(late);
        EXPECT_EQ(margin.Nanos(), c.margin);
    }
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
