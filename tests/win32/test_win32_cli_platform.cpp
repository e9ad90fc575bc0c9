// The terminal program's Windows platform: what holds off the end of the session while
// the command sequence runs, and the one-instance mutex.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/platform.h"
#include "cli/win32/cli_platform_win32.h"

namespace {

HWND SessionWindow() {
    return FindWindowW(L"OrvantaCliSession", nullptr);
}

constexpr const wchar_t* TEST_INSTANCE_NAME = L"Global\\OrvantaCliPlatformTest";

// One for the whole test program: its console handler is the process's.
Win32CliPlatform& Platform() {
    static Win32CliPlatform* platform = new Win32CliPlatform(TEST_INSTANCE_NAME);
    return *platform;
}

// Windows asks every top-level window before a logoff or shutdown; a console program's
// handler is not told. The window refuses and names the update, and is gone afterwards.
TEST(Win32CliSession, HeldOffWhileTheSequenceRunsAndAllowedAfter) {
    Win32CliPlatform& platform = Platform();
    ASSERT_EQ(SessionWindow(), nullptr);

    ASSERT_EQ(platform.HoldOffSessionEnd(L"Firmware update in progress, please wait..."),
              CliPlatform::SessionHold::Held);

    const HWND window = SessionWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), nullptr) << "a top-level window";
    DWORD_PTR answer = 1;
    ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer), 0)
        << "the window answers while the main thread is busy elsewhere";
    EXPECT_EQ(answer, 0u) << "the end of the session is refused";

    platform.AllowSessionEnd();
    EXPECT_EQ(SessionWindow(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    platform.AllowSessionEnd();  // nothing held: nothing happens
}

// A copy in another Windows session must find the running one: the name is global, and a
// mutex another user holds (access denied) counts as a copy running.
TEST(Win32CliInstance, OneCopyAcrossSessions) {
    EXPECT_EQ(std::wstring(PRODUCT_INSTANCE_NAME).rfind(L"Global\\", 0), 0u);
    EXPECT_EQ(std::wstring(SIMULATED_INSTANCE_NAME).rfind(L"Global\\", 0), 0u);
    // Another copy holds the mutex.
    HANDLE other = CreateMutexW(nullptr, FALSE, TEST_INSTANCE_NAME);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(Platform().HoldInstance());
    CloseHandle(other);
}

}  // namespace
