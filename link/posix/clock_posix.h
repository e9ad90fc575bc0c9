// The clock seam on POSIX systems: waits against a CLOCK_MONOTONIC deadline that are
// never shorter than asked and, during an update, hardly longer.
#pragma once

#include <cstdint>

#include "link/clock.h"

class PosixClock : public Clock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMicros() override;
    // The errno the last failing seam call on this thread left (link/posix/last_error_posix.h).
    std::uint32_t LastError() override;
    // On Linux, the thread's timer slack is lowered to the least for the update's
    // duration and put back afterwards; elsewhere nothing changes.
    void BeginUpdatePeriod() override;
    void EndUpdatePeriod() override;

    // How long before the deadline a wait stops sleeping and finishes against the clock.
    static constexpr std::int64_t FINISH_NANOS = 1'000'000;

private:
    long savedTimerSlack_ = -1;  // nanoseconds; -1 while the slack is the thread's own
};
