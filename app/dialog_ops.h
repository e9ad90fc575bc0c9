// The user32 calls the Windows dialog is made of, one per platform call: the dialog's view
// (app/dialog_window.h) carries out each of its operations with them. On Windows each
// method is the one user32 call it names; in a test a fake records what it is asked.
#pragma once

#include <cstdint>
#include <string>

// An opaque window: an HWND on Windows, any nonzero token in a test. 0 is no window.
using WindowId = std::uintptr_t;
// An opaque device-change broadcast (the lParam of WM_DEVICECHANGE). 0 is none.
using BroadcastId = std::intptr_t;

struct WindowRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// Message-box flags and answers, as the platform numbers them.
constexpr std::uint32_t BOX_ICON_ERROR = 0x10;        // MB_OK | MB_ICONERROR
constexpr std::uint32_t BOX_ICON_INFORMATION = 0x40;  // MB_OK | MB_ICONINFORMATION
constexpr std::uint32_t BOX_OK_CANCEL_WARNING = 0x31; // MB_OKCANCEL | MB_ICONWARNING
constexpr std::uint32_t BOX_YES_NO_WARNING = 0x34;    // MB_YESNO | MB_ICONWARNING
constexpr std::int32_t ANSWER_OK = 1;                 // IDOK
constexpr std::int32_t ANSWER_YES = 6;                // IDYES

// System metrics read for the logo's position.
constexpr std::int32_t METRIC_DIALOG_FRAME_WIDTH = 7;  // SM_CXDLGFRAME
constexpr std::int32_t METRIC_CAPTION_HEIGHT = 4;      // SM_CYCAPTION

constexpr std::int32_t SHOW_NORMAL_STATE = 5;  // SW_SHOW

class DialogOps {
public:
    virtual ~DialogOps() = default;

    // LoadStringW from the program's instance into TEXT_CAPACITY wide characters.
    virtual std::wstring LoadResourceText(std::uint16_t id) = 0;
    // LoadIconW of an icon group, put on the main window's class (SetClassLongPtrW).
    virtual void SetClassIcon(std::uint16_t iconId) = 0;
    // SendMessageW WM_SETTEXT on the main window.
    virtual void SetTitle(const std::wstring& text) = 0;
    // SetDlgItemTextW.
    virtual void SetItemText(std::int32_t controlId, const std::wstring& text) = 0;
    // SetWindowTextW on GetDlgItem.
    virtual void SetControlText(std::int32_t controlId, const std::wstring& text) = 0;
    // GetWindowTextLengthW on GetDlgItem.
    virtual std::int32_t ControlTextLength(std::int32_t controlId) = 0;
    // GetWindowTextW on GetDlgItem into capacity characters, terminator included.
    virtual std::wstring ReadControlText(std::int32_t controlId, std::int32_t capacity) = 0;
    // EnableWindow on GetDlgItem.
    virtual void EnableControl(std::int32_t controlId, bool enabled) = 0;
    // GetDlgItem.
    virtual WindowId ControlWindow(std::int32_t controlId) = 0;
    // MessageBoxW owned by the main window; the answer.
    virtual std::int32_t AskUser(const std::wstring& text, const std::wstring& caption,
                                 std::uint32_t flags) = 0;
    // RegisterDeviceNotificationW for HID interfaces on the main window; 0 on failure.
    virtual std::uintptr_t RegisterForDeviceChanges() = 0;
    // UnregisterDeviceNotification.
    virtual void UnregisterForDeviceChanges(std::uintptr_t notification) = 0;
    // EndDialog on the main window.
    virtual void FinishDialog(std::intptr_t result) = 0;
    // The device type in a broadcast's header (dbch_devicetype).
    virtual std::uint32_t BroadcastDeviceType(BroadcastId broadcast) = 0;
    // The interface name of a device-interface broadcast (dbcc_name).
    virtual const wchar_t* BroadcastInterfaceName(BroadcastId broadcast) = 0;
    // GetWindowRect, screen coordinates.
    virtual WindowRect WindowRectangle(WindowId window) = 0;
    // GetSystemMetrics.
    virtual std::int32_t SystemMetric(std::int32_t index) = 0;
    // GetForegroundWindow.
    virtual WindowId ForegroundWindow() = 0;
    // CreateWindowExW with extended style 0, no menu, the program's instance.
    virtual WindowId CreateTopLevelWindow(const std::wstring& className, const std::wstring& caption,
                                          std::uint32_t style, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height,
                                          WindowId owner) = 0;
    // SendMessageW PBM_SETPOS.
    virtual void SetProgressPosition(WindowId bar, std::uint32_t position) = 0;
    // SetWindowPos to HWND_TOP with SWP_NOSIZE | SWP_NOMOVE.
    virtual void RaiseToTop(WindowId window) = 0;
    // ShowWindow.
    virtual void ShowWindowAs(WindowId window, std::int32_t command) = 0;
    // DestroyWindow.
    virtual void DestroyTopLevelWindow(WindowId window) = 0;
    // EnableWindow on the main window.
    virtual void EnableMainWindow(bool enabled) = 0;
    // Removes the keyboard and mouse input waiting in the thread's queue, unanswered.
    virtual void DiscardInput() = 0;
    // ShutdownBlockReasonCreate on the main window with this reason.
    virtual void BlockSessionEnd(const std::wstring& reason) = 0;
    // ShutdownBlockReasonDestroy on the main window.
    virtual void AllowSessionEnd() = 0;
};

// The main dialog's window; set first thing in dialog initialisation.
extern WindowId mainWindow;
// The registration for HID interface arrival and removal; 0 while not registered.
extern std::uintptr_t deviceNotification;
