#include "link/posix/clock_posix.h"

#include <cerrno>
#include <ctime>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "link/posix/last_error_posix.h"

namespace {

constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;

std::int64_t NowNanos() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NANOS_PER_SECOND + now.tv_nsec;
}

}  // namespace

void PosixClock::Sleep(std::uint32_t ms) {
    const std::int64_t deadline = NowNanos() + static_cast<std::int64_t>(ms) * 1'000'000;
    // An absolute wake-up time: a signal that interrupts the sleep cannot make the wait
    // shorter or add drift when it is resumed.
    const std::int64_t wakeUp = deadline - FINISH_NANOS;
    if (wakeUp > NowNanos()) {
        const timespec at{static_cast<time_t>(wakeUp / NANOS_PER_SECOND),
                          static_cast<long>(wakeUp % NANOS_PER_SECOND)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
    }
    // A sleep ends up to the scheduler's latency late, which would stretch every 20 ms
    // wait of an update by a percent or more; the last stretch is finished against the
    // clock instead. Without yielding: a yield lets any other runnable thread have the
    // processor, often past the deadline.
    while (NowNanos() < deadline) {
    }
}

std::uint64_t PosixClock::NowMicros() {
    return static_cast<std::uint64_t>(NowNanos() / 1000);
}

std::uint32_t PosixClock::LastError() {
    return PosixLastError();
}

void PosixClock::BeginUpdatePeriod() {
#ifdef __linux__
    // The kernel may otherwise end a sleep up to the slack (50 us by default) late.
    if (savedTimerSlack_ < 0) {
        const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        if (slack > 0 && prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0) {
            savedTimerSlack_ = slack;
        }
    }
#endif
}

void PosixClock::EndUpdatePeriod() {
#ifdef __linux__
    if (savedTimerSlack_ > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(savedTimerSlack_), 0, 0, 0);
        savedTimerSlack_ = -1;
    }
#endif
}
