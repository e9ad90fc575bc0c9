// The program's entry and its dialog procedure: every message goes to its handler.
// The project's headers come first: windows.h defines some of their names as macros.
#include "app/win32/dialog_ops_win32.h"
#include "app/dialog_phase.h"
#include "app/dialog_window.h"
#include "app/main_dialog.h"
#include "app/paint_geometry.h"
#include "app/platform.h"
#include "app/status_flow.h"
#include "link/device_session.h"
#include "res/resource.h"

#include <windows.h>

#include <commctrl.h>

#include "app/win32/app_win32.h"

HINSTANCE appInstance = nullptr;

namespace {

// One copy of the program at a time: the unit hands every reply to every program that has
// it open, so a second copy would take the first one's replies for its own and the other
// way round, in the middle of an update. The running copy holds a mutex named
// InstanceName() and marks its window with a property of that name, for a second start
// to find it. The name is the platform's, so the simulated build is a program of its own.

BOOL CALLBACK BringToFrontIfRunningCopy(HWND window, LPARAM) {
    if (GetPropW(window, InstanceName()) == nullptr) {
        return TRUE;
    }
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    // An open box or the progress window, where there is one: the main window may be
    // disabled under it.
    SetForegroundWindow(GetLastActivePopup(window));
    return FALSE;
}

Win32DialogOps dialogOps;
DialogWindow dialogWindow(dialogOps);
MainDialog mainDialog(dialogWindow);
// Background of the two red controls; made at their first paint, freed when the
// dialog has ended.
HBRUSH redTextBrush = nullptr;

// The logo right of the version group box; loaded, drawn and released on every paint.
void PaintLogo(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HBITMAP bitmap = LoadBitmapW(appInstance, MAKEINTRESOURCEW(IDB_LOGO));
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    HDC memory = CreateCompatibleDC(dc);
    SelectObject(memory, bitmap);
    // A bitmap that did not load has no width: nothing is drawn.
    const LogoPlacement logo = PlaceLogoInDialog(dialogOps, info.bmWidth, info.bmHeight);
    if (logo.draws) {
        TransparentBlt(dc, logo.x, logo.y, logo.width, logo.height, memory, 0, 0, info.bmWidth,
                       info.bmHeight, RGB(0, 255, 0));
    }
    DeleteDC(memory);
    DeleteObject(bitmap);
    EndPaint(window, &paint);
}

INT_PTR RedText(HDC dc) {
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    if (redTextBrush == nullptr) {
        redTextBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    }
    return reinterpret_cast<INT_PTR>(redTextBrush);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        PaintLogo(window);
        return 0;
    case WM_INITDIALOG:
        SetPropW(window, InstanceName(), window);
        OnInitDialog(dialogWindow, reinterpret_cast<WindowId>(window));
        return 1;
    case WM_DESTROY:
        RemovePropW(window, InstanceName());
        return 0;
    case WM_COMMAND:
        return OnCommand(dialogWindow, mainDialog, LOWORD(wParam));
    case WM_CTLCOLORSTATIC:
        return DrawsRedText(dialogOps, static_cast<WindowId>(lParam))
                   ? RedText(reinterpret_cast<HDC>(wParam))
                   : 0;
    case WM_SYSCOLORCHANGE:
        // The red controls' background follows the face colour: made anew at next paint.
        DeleteObject(redTextBrush);
        redTextBrush = nullptr;
        return 0;
    case WM_CLOSE:
        if (IgnoresCloseRequest(dialogPhase)) {
            return 1;
        }
        return 0;  // the dialog manager turns it into the Close command
    case WM_QUERYENDSESSION:
        // The update's waits deliver this sent message; the answer is the dialog result.
        SetWindowLongPtrW(window, DWLP_MSGRESULT, RefusesEndSession(dialogPhase) ? FALSE : TRUE);
        return 1;
    case WM_DEVICECHANGE:
        return OnDeviceChange(dialogWindow, wParam, static_cast<BroadcastId>(lParam)) != 0 ? 1 : 0;
    default:
        return 0;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Held until the process ends. A second start touches no device: it shows the running
    // copy and leaves.
    SetLastError(ERROR_SUCCESS);
    HANDLE instanceMutex = CreateMutexW(nullptr, FALSE, InstanceName());
    const DWORD mutexError = GetLastError();
    if (mutexError == ERROR_ALREADY_EXISTS || (instanceMutex == nullptr && mutexError == ERROR_ACCESS_DENIED)) {
        EnumWindows(BringToFrontIfRunningCopy, 0);
        if (instanceMutex != nullptr) {
            CloseHandle(instanceMutex);
        }
        return 0;
    }
    InitCommonControls();
    appInstance = instance;
    deviceSession.Reset();  // no handle is open yet: only the fields are cleared
    InstallPlatform();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (redTextBrush != nullptr) {
        DeleteObject(redTextBrush);
        redTextBrush = nullptr;
    }
    RemovePlatform();
    if (instanceMutex != nullptr) {
        CloseHandle(instanceMutex);
    }
    return 0;
}
