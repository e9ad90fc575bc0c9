#include "link/posix/clock_posix.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#ifdef __linux__
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "link/posix/last_error_posix.h"

namespace {

constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;

std::int64_t NowNanos() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NANOS_PER_SECOND + now.tv_nsec;
}

#ifdef __linux__
// The first version of the kernel's sched_attr; spelt out here because the C library
// may or may not declare its own, and the kernel takes any version it knows.
struct SchedAttr {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime;  // for the fair policies: the time slice the task asks for
    std::uint64_t deadline;
    std::uint64_t period;
};

// Sets the calling thread's time slice, leaving its policy, niceness and flags alone,
// and tells the one it had. Only the fair policies have a slice to ask for.
bool SetTimeSlice(std::uint64_t nanos, std::uint64_t& previous) {
    SchedAttr attr{};
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 ||
        (attr.policy != SCHED_OTHER && attr.policy != SCHED_BATCH)) {
        return false;
    }
    previous = attr.runtime;
    attr.size = sizeof attr;
    attr.runtime = nanos;
    return syscall(SYS_sched_setattr, 0, &attr, 0) == 0;
}
#endif

}  // namespace

void WakeUpMargin::Note(std::int64_t latenessNanos) {
    recent_[seen_ % WINDOW] = std::max<std::int64_t>(latenessNanos, 0);
    ++seen_;
    const std::size_t kept = std::min(seen_, WINDOW);
    if (kept < ENOUGH) {
        return;
    }
    std::array<std::int64_t, WINDOW> sorted = recent_;
    const auto covered = sorted.begin() + static_cast<std::ptrdiff_t>(COVERED * static_cast<double>(kept - 1));
    std::nth_element(sorted.begin(), covered, sorted.begin() + static_cast<std::ptrdiff_t>(kept));
    margin_ = std::clamp(*covered + PAD_NANOS, LEAST_NANOS, MOST_NANOS);
}

void PosixClock::Sleep(std::uint32_t ms) {
    const std::int64_t deadline = NowNanos() + static_cast<std::int64_t>(ms) * 1'000'000;
    // A sleep ends some scheduler latency late (around 0.1 ms on a virtual machine),
    // which would stretch every 20 ms wait of an update by half a percent; so the sleep
    // ends early by what recent wake-ups were late, and the rest is finished against the
    // clock. Without yielding: a yield lets any other runnable thread have the processor,
    // often past the deadline.
    const std::int64_t wakeUp = deadline - FinishNanos();
    if (wakeUp > NowNanos()) {
        SleepUntil(wakeUp);
        const std::int64_t woke = NowNanos();
        const std::lock_guard<std::mutex> hold(marginLock_);
        margin_.Note(woke - wakeUp);
    }
    while (NowNanos() < deadline) {
    }
}

void PosixClock::SleepUntil(std::int64_t wakeUpNanos) {
    // An absolute wake-up time: a signal that interrupts the sleep cannot make the wait
    // shorter or add drift when it is resumed.
    const timespec at{static_cast<time_t>(wakeUpNanos / NANOS_PER_SECOND),
                      static_cast<long>(wakeUpNanos % NANOS_PER_SECOND)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

std::int64_t PosixClock::MonotonicNanos() {
    return NowNanos();
}

std::int64_t PosixClock::FinishNanos() {
    const std::lock_guard<std::mutex> hold(marginLock_);
    return margin_.Nanos();
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
    // With its usual slice, a woken thread may wait for the running task to use up its
    // own (milliseconds) when the processors are busy; a short slice lets the wake-up
    // preempt it. The thread asks for little processor time, so a short slice costs it
    // nothing.
    std::uint64_t own = 0;
    if (savedSliceNanos_ < 0 && SetTimeSlice(UPDATE_SLICE_NANOS, own)) {
        savedSliceNanos_ = static_cast<std::int64_t>(own);
    }
#endif
}

void PosixClock::EndUpdatePeriod() {
#ifdef __linux__
    if (savedTimerSlack_ > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(savedTimerSlack_), 0, 0, 0);
        savedTimerSlack_ = -1;
    }
    if (savedSliceNanos_ >= 0) {
        std::uint64_t shortened = 0;
        SetTimeSlice(static_cast<std::uint64_t>(savedSliceNanos_), shortened);
        savedSliceNanos_ = -1;
    }
#endif
}
