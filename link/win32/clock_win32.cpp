#include "link/win32/clock_win32.h"

#include <windows.h>

#include <mmsystem.h>

#include "link/win32/window_wait_win32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

std::int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// ticks * scale / frequency, rounded up, without overflowing on long waits.
std::int64_t Scale(std::int64_t ticks, std::int64_t scale, std::int64_t frequency) {
    return ticks / frequency * scale + ((ticks % frequency) * scale + frequency - 1) / frequency;
}

}  // namespace

Win32Clock::Win32Clock() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = frequency.QuadPart;
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
    highResolution_ = timer_ != nullptr;
    if (!highResolution_) {
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    // How far ahead of the deadline the timer is set: about as late as it may fire (some
    // systems round timer expiry up to the millisecond; a normal timer to the 1 ms tick).
    lead_ = Scale(highResolution_ ? 1 : 2, frequency_, 1000);
}

Win32Clock::~Win32Clock() {
    CloseHandle(timer_);
}

void Win32Clock::Sleep(std::uint32_t ms) {
    // The caller reads the last error of the step before the wait after it.
    const DWORD savedError = GetLastError();
    const std::int64_t deadline = Ticks() + Scale(ms, frequency_, 1000);
    for (;;) {
        // Paint and sent messages only: the windows stay drawn and are never marked hung,
        // while clicks, keys and posted commands wait in the queue.
        const std::int64_t left = deadline - Ticks();
        if (left <= lead_) {
            break;
        }
        LARGE_INTEGER due;
        due.QuadPart = -Scale(left - lead_, 10'000'000, frequency_);  // relative, 100 ns
        SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
        if (WaitServicingWindows(timer_, INFINITE) == WAIT_FAILED) {
            ::Sleep(1);  // no timer could be made: wait in small steps rather than spin
        }
    }
    // A timer fires up to a millisecond late, which would stretch every 20 ms wait by
    // several percent; the last stretch is finished against the counter instead.
    while (Ticks() < deadline) {
        SwitchToThread();
    }
    SetLastError(savedError);
}

std::uint64_t Win32Clock::NowMicros() {
    return static_cast<std::uint64_t>(Scale(Ticks(), 1'000'000, frequency_));
}

std::uint32_t Win32Clock::LastError() {
    return GetLastError();
}

void Win32Clock::BeginUpdatePeriod() {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    if (!highResolution_) {
        periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
}

void Win32Clock::EndUpdatePeriod() {
    const DWORD savedError = GetLastError();
    SetThreadExecutionState(ES_CONTINUOUS);
    if (periodRaised_) {
        timeEndPeriod(1);
        periodRaised_ = false;
    }
    SetLastError(savedError);
}
