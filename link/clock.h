// The seam to time and to the platform's last-error value.
#pragma once

#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Blocks for at least ms milliseconds (and not much longer).
    virtual void Sleep(std::uint32_t ms) = 0;
    // Monotonic time in microseconds, for measuring only.
    virtual std::uint64_t NowMicros() = 0;
    // The calling thread's last platform error: GetLastError on Windows, elsewhere the
    // errno the failing call of a seam side left (see link/posix/last_error_posix.h).
    virtual std::uint32_t LastError() = 0;
    // Bracket one firmware update: keep the computer awake and the waits precise for its
    // duration only, whatever its outcome.
    virtual void BeginUpdatePeriod() {}
    virtual void EndUpdatePeriod() {}
};

extern Clock* systemClock;
