#include "link/window_wait_win32.h"

namespace {

// A window that keeps asking for paint must not keep the wait from its object.
constexpr int PAINTS_PER_ROUND = 16;

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
        DWORD wait = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG passed = GetTickCount64() - start;
            wait = passed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - passed);
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &object, wait, QS_PAINT | QS_SENDMESSAGE, 0);
        if (result != WAIT_OBJECT_0 + 1) {
            return result;
        }
    }
}
