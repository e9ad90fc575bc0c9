// A visible top-level window on the test's thread that notes what reaches it, for tests
// of waits that must keep the thread's windows alive. One window serves a whole suite:
// closing a shown window is slow on a bare X server.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

class ProbeWindowTest : public ::testing::Test {
protected:
    static constexpr UINT WM_PROBE = WM_APP + 1;

    static void SetUpTestSuite() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OrvWaitProbe";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"OrvWaitProbe", L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        UpdateWindow(window);
    }
    static void TearDownTestSuite() { DestroyWindow(window); }

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        // Start from an empty queue.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        received.clear();
    }

    static bool Received(UINT message) {
        for (UINT m : received) {
            if (m == message) {
                return true;
            }
        }
        return false;
    }

    // Runs wait on this thread while another thread sends the window a probe after
    // 50 ms; true when the probe was answered within a second, during the wait.
    template <typename Wait>
    static bool AnswersProbeDuring(Wait wait) {
        std::atomic<LRESULT> answer{0};
        std::thread sender([&] {
            ::Sleep(50);
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window, WM_PROBE, 0, 0, SMTO_NORMAL, 1000, &result)) {
                answer = static_cast<LRESULT>(result);
            }
        });
        wait();
        const bool answered = answer == 42;
        sender.join();
        return answered && Received(WM_PROBE);
    }

    // The messages still queued for the window, paint left out.
    static std::vector<UINT> Queued() {
        std::vector<UINT> queued;
        MSG message;
        while (PeekMessageW(&message, window, 0, 0, PM_REMOVE | PM_NOYIELD)) {
            if (message.message != WM_PAINT) {
                queued.push_back(message.message);
            }
        }
        return queued;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_PROBE || message == WM_PAINT || message == WM_COMMAND || message == WM_KEYDOWN ||
            message == WM_LBUTTONDOWN) {
            received.push_back(message);
            SetLastError(ERROR_SUCCESS);  // as any window code may
        }
        if (message == WM_PROBE) {
            return 42;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static inline std::vector<UINT> received;
    static inline HWND window = nullptr;
};
