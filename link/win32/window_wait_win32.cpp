#include "link/win32/window_wait_win32.h"

namespace {

// A window that keeps asking for paint must not keep the wait from its object.
constexpr int PAINTS_PER_ROUND = 16;
// Windows takes a thread for hung when it has not looked at its queue for 5 s while
// waiting for anything but input: the queue is looked at at least this often.
constexpr DWORD LOOK_AT_QUEUE_MS = 250;

}  // namespace

DWORD WaitServicingWindows(HANDLE object, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // Sent messages are delivered inside PeekMessage; only paint is removed.
        MSG message;
        for (int i = 0; i < PAINTS_PER_ROUND && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT);
             ++i) {
            DispatchMessageW(&message);
        }
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG passed = GetTickCount64() - start;
            left = passed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - passed);
        }
        const DWORD slice = left < LOOK_AT_QUEUE_MS ? left : LOOK_AT_QUEUE_MS;
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &object, slice, QS_PAINT | QS_SENDMESSAGE, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) {
            return result;
        }
        if (result == WAIT_TIMEOUT && slice == left) {
            return WAIT_TIMEOUT;
        }
        // A message arrived, or it is time to look at the queue again.
    }
}
