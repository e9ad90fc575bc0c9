// The clock seam on POSIX systems: waits against a CLOCK_MONOTONIC deadline that are
// never shorter than asked and, during an update, hardly longer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/clock.h"

// How long before its deadline a wait stops sleeping and finishes against the clock,
// learned from how late the recent sleeps woke: long enough that most waits end on
// time, short enough that little processor time goes into watching the clock.
class WakeUpMargin {
public:
    // Bounds of the margin. Below the least, a wake-up that is a few microseconds later
    // than usual already makes the wait longer; above the most, the watching costs more
    // than it saves, and on a busy processor it only invites being preempted.
    static constexpr std::int64_t LEAST_NANOS = 20'000;
    static constexpr std::int64_t MOST_NANOS = 500'000;
    // Until enough wake-ups have been seen.
    static constexpr std::int64_t FIRST_NANOS = 250'000;
    // How many recent wake-ups count, which share of them the margin covers, and what
    // it adds for the reading of the clock after the wake-up.
    static constexpr std::size_t WINDOW = 64;
    static constexpr std::size_t ENOUGH = 8;
    static constexpr double COVERED = 0.9;
    static constexpr std::int64_t PAD_NANOS = 10'000;

    // How late a sleep woke after the time it was asked to end at.
    void Note(std::int64_t latenessNanos);
    std::int64_t Nanos() const { return margin_; }

private:
    std::array<std::int64_t, WINDOW> recent_{};
    std::size_t seen_ = 0;  // all wake-ups noted, of which the last WINDOW are kept
    std::int64_t margin_ = FIRST_NANOS;
};

class PosixClock : public Clock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMicros() override;
    // The errno the last failing seam call on this thread left (link/posix/last_error_posix.h).
    std::uint32_t LastError() override;
    // On Linux, for the update's duration, the thread's timer slack is lowered to the
    // least and its scheduler time slice shortened (which lets its wake-ups preempt
    // another task at once, on kernels that take a slice per task); both are put back
    // afterwards. Elsewhere nothing changes.
    void BeginUpdatePeriod() override;
    void EndUpdatePeriod() override;

    // The margin the next wait will finish against the clock.
    std::int64_t FinishNanos();
    // The clock the waits are measured against (CLOCK_MONOTONIC), in nanoseconds.
    static std::int64_t MonotonicNanos();

    // The time slice asked for during the update: the least the kernel grants.
    static constexpr std::uint64_t UPDATE_SLICE_NANOS = 100'000;

protected:
    // Sleeps until the monotonic time wakeUpNanos; a window's program keeps its windows
    // alive meanwhile (never waking later than that time by more than a sleep would).
    virtual void SleepUntil(std::int64_t wakeUpNanos);

private:
    std::mutex marginLock_;  // waits may come from more than one thread
    WakeUpMargin margin_;
    long savedTimerSlack_ = -1;       // nanoseconds; -1 while the slack is the thread's own
    std::int64_t savedSliceNanos_ = -1;  // -1 while the slice is the thread's own
};
