// The clock seam on POSIX systems: precise waits against the monotonic clock.
#pragma once

#include "link/clock.h"

class PosixClock : public Clock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMicros() override;
    std::uint32_t LastError() override { return 0; }
};
