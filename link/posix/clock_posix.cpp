#include "link/posix/clock_posix.h"

#include <cerrno>
#include <ctime>

void PosixClock::Sleep(std::uint32_t ms) {
    // An absolute deadline: a signal that interrupts the wait cannot make it shorter or
    // add drift when it is resumed.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000L;
    if (deadline.tv_nsec >= 1'000'000'000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::uint64_t PosixClock::NowMicros() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}
