// The clock seam on Windows: waits against the performance counter that keep the
// thread's windows painted and its sent messages answered, but act on no input.
#pragma once

#include "link/clock.h"

class Win32Clock : public Clock {
public:
    Win32Clock();
    ~Win32Clock() override;
    Win32Clock(const Win32Clock&) = delete;
    Win32Clock& operator=(const Win32Clock&) = delete;

    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMicros() override;
    std::uint32_t LastError() override;
    void BeginUpdatePeriod() override;
    void EndUpdatePeriod() override;

    // Whether the waits use a high-resolution timer (else a normal one, with the system
    // timer period raised during an update).
    bool HighResolution() const { return highResolution_; }

private:
    void* timer_;
    bool highResolution_;
    bool periodRaised_ = false;
    std::int64_t frequency_;  // performance counter ticks per second
    std::int64_t lead_;       // ticks
};
