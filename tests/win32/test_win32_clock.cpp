// The Win32 clock: waits are never shorter than asked, keep the thread's windows
// painted and its sent messages answered, and act on no input while they run.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <thread>
#include <vector>

#include "link/win32/clock_win32.h"
#include "tests/win32/probe_window.h"

namespace {

std::int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t Frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

TEST(Win32ClockWait, NeverShorterThanAsked) {
    Win32Clock clock;
    const std::int64_t frequency = Frequency();
    for (std::uint32_t ms : {0u, 1u, 2u, 5u, 20u, 20u, 20u, 33u}) {
        const std::int64_t start = Ticks();
        const std::uint64_t startMicros = clock.NowMicros();
        clock.Sleep(ms);
        const std::int64_t elapsed = Ticks() - start;
        EXPECT_GE(elapsed * 1000, std::int64_t{ms} * frequency) << ms << " ms";
        EXPECT_GE(clock.NowMicros() - startMicros, std::uint64_t{ms} * 1000) << ms << " ms";
    }
}

TEST(Win32ClockWait, EndOfUpdatePeriodKeepsTheLastError) {
    Win32Clock clock;
    clock.BeginUpdatePeriod();
    SetLastError(ERROR_TIMEOUT);
    clock.EndUpdatePeriod();
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ERROR_TIMEOUT));
}

TEST(Win32ClockWait, UpdatePeriodKeepsTheSystemAwakeOnlyWhileItLasts) {
    Win32Clock clock;
    clock.BeginUpdatePeriod();
    // Asking again returns the state in force; put back what was there.
    const EXECUTION_STATE during = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    clock.EndUpdatePeriod();
    const EXECUTION_STATE after = SetThreadExecutionState(ES_CONTINUOUS);
    EXPECT_EQ(during & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    EXPECT_EQ(after & ES_SYSTEM_REQUIRED, 0u);
}

class Win32ClockMessages : public ProbeWindowTest {
protected:
    Win32Clock clock;
};

TEST_F(Win32ClockMessages, AnswersSentMessagesDuringTheWait) {
    EXPECT_TRUE(AnswersProbeDuring([&] { clock.Sleep(200); }));
}

TEST_F(Win32ClockMessages, RepaintsDuringTheWait) {
    InvalidateRect(window, nullptr, TRUE);
    clock.Sleep(50);
    EXPECT_TRUE(Received(WM_PAINT));
    RECT update;
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
}

TEST_F(Win32ClockMessages, KeepsTheLastErrorOfTheStepBefore) {
    // The failure report reads the error of the step before the wait after it, even
    // when window code has run during the wait.
    InvalidateRect(window, nullptr, TRUE);
    SetLastError(ERROR_GEN_FAILURE);
    clock.Sleep(20);
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ERROR_GEN_FAILURE));
    EXPECT_TRUE(Received(WM_PAINT));
}

TEST_F(Win32ClockMessages, LeavesInputAndPostedCommandsQueued) {
    const UINT posted[] = {WM_COMMAND, WM_KEYDOWN, WM_LBUTTONDOWN};
    for (UINT message : posted) {
        ASSERT_TRUE(PostMessageW(window, message, 1002, 0));
    }
    std::thread sender([&] {
        ::Sleep(30);
        PostMessageW(window, WM_COMMAND, 1002, 0);
    });
    clock.Sleep(200);
    sender.join();
    for (UINT message : posted) {
        EXPECT_FALSE(Received(message)) << "message " << message << " acted on during the wait";
    }
    const std::vector<UINT> expected = {WM_COMMAND, WM_KEYDOWN, WM_LBUTTONDOWN, WM_COMMAND};
    EXPECT_EQ(Queued(), expected);
}

}  // namespace
