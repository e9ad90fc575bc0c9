#include "app/win32/dialog_ops_win32.h"

#include "app/dialog_window.h"
#include "app/main_dialog.h"
#include "app/status_flow.h"
#include "res/resource.h"
#include "res/text_format.h"

#include <windows.h>

#include <commctrl.h>
#include <dbt.h>

// mingw-w64's HID headers declare C functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include "app/win32/app_win32.h"

// The portable core names these Win32 values as plain numbers; they must stay the SDK's.
static_assert(BOX_ICON_ERROR == (MB_OK | MB_ICONERROR));
static_assert(BOX_ICON_INFORMATION == (MB_OK | MB_ICONINFORMATION));
static_assert(BOX_OK_CANCEL_WARNING == (MB_OKCANCEL | MB_ICONWARNING));
static_assert(BOX_YES_NO_WARNING == (MB_YESNO | MB_ICONWARNING));
static_assert(ANSWER_OK == IDOK && ANSWER_YES == IDYES);
static_assert(METRIC_DIALOG_FRAME_WIDTH == SM_CXDLGFRAME && METRIC_CAPTION_HEIGHT == SM_CYCAPTION);
static_assert(SHOW_NORMAL_STATE == SW_SHOW);
static_assert(PROGRESS_STYLE == (WS_VISIBLE | PBS_SMOOTH));
static_assert(COMMAND_CLOSE == IDCANCEL && COMMAND_UPDATE == IDC_UPDATE);
static_assert(DBT_EVENT_DEVICE_ARRIVAL == DBT_DEVICEARRIVAL);
static_assert(DBT_EVENT_DEVICE_REMOVE_COMPLETE == DBT_DEVICEREMOVECOMPLETE);
static_assert(DEVICE_TYPE_INTERFACE == DBT_DEVTYP_DEVICEINTERFACE);

namespace {

HWND Window(WindowId window) {
    return reinterpret_cast<HWND>(window);
}

HWND Main() {
    return Window(mainWindow);
}

HWND Control(std::int32_t controlId) {
    return GetDlgItem(Main(), controlId);
}

// The update reads the thread's last error right after a failing exchange; the window
// operations it runs between two exchanges (progress window and bar) must not leave
// theirs behind in its place (the common progress bar, for one, sets it on PBM_SETPOS).
class KeepLastError {
public:
    KeepLastError() : error_(GetLastError()) {}
    ~KeepLastError() { SetLastError(error_); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

private:
    DWORD error_;
};

}  // namespace

std::wstring Win32DialogOps::LoadResourceText(std::uint16_t id) {
    wchar_t buffer[TEXT_CAPACITY] = {};
    LoadStringW(appInstance, id, buffer, TEXT_CAPACITY);
    return buffer;
}

void Win32DialogOps::SetClassIcon(std::uint16_t iconId) {
    HICON icon = LoadIconW(appInstance, MAKEINTRESOURCEW(iconId));
    SetClassLongPtrW(Main(), GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

void Win32DialogOps::SetTitle(const std::wstring& text) {
    SendMessageW(Main(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32DialogOps::SetItemText(std::int32_t controlId, const std::wstring& text) {
    SetDlgItemTextW(Main(), controlId, text.c_str());
}

void Win32DialogOps::SetControlText(std::int32_t controlId, const std::wstring& text) {
    SetWindowTextW(Control(controlId), text.c_str());
}

std::int32_t Win32DialogOps::ControlTextLength(std::int32_t controlId) {
    return GetWindowTextLengthW(Control(controlId));
}

std::wstring Win32DialogOps::ReadControlText(std::int32_t controlId, std::int32_t capacity) {
    std::wstring text(static_cast<std::size_t>(capacity > 0 ? capacity : 1), L'\0');
    const int length = GetWindowTextW(Control(controlId), text.data(), capacity);
    text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return text;
}

void Win32DialogOps::EnableControl(std::int32_t controlId, bool enabled) {
    EnableWindow(Control(controlId), enabled ? TRUE : FALSE);
}

WindowId Win32DialogOps::ControlWindow(std::int32_t controlId) {
    return reinterpret_cast<WindowId>(Control(controlId));
}

std::int32_t Win32DialogOps::AskUser(const std::wstring& text, const std::wstring& caption,
                                     std::uint32_t flags) {
    return MessageBoxW(Main(), text.c_str(), caption.c_str(), flags);
}

std::uintptr_t Win32DialogOps::RegisterForDeviceChanges() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    return reinterpret_cast<std::uintptr_t>(
        RegisterDeviceNotificationW(Main(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
}

void Win32DialogOps::UnregisterForDeviceChanges(std::uintptr_t notification) {
    UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(notification));
}

void Win32DialogOps::FinishDialog(std::intptr_t result) {
    EndDialog(Main(), result);
}

std::uint32_t Win32DialogOps::BroadcastDeviceType(BroadcastId broadcast) {
    return reinterpret_cast<const DEV_BROADCAST_HDR*>(broadcast)->dbch_devicetype;
}

const wchar_t* Win32DialogOps::BroadcastInterfaceName(BroadcastId broadcast) {
    return reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast)->dbcc_name;
}

WindowRect Win32DialogOps::WindowRectangle(WindowId window) {
    const KeepLastError keep;
    RECT rect{};
    GetWindowRect(Window(window), &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

std::int32_t Win32DialogOps::SystemMetric(std::int32_t index) {
    return GetSystemMetrics(index);
}

WindowId Win32DialogOps::ForegroundWindow() {
    const KeepLastError keep;
    return reinterpret_cast<WindowId>(GetForegroundWindow());
}

WindowId Win32DialogOps::CreateTopLevelWindow(const std::wstring& className, const std::wstring& caption,
                                              std::uint32_t style, std::int32_t x, std::int32_t y,
                                              std::int32_t width, std::int32_t height, WindowId owner) {
    const KeepLastError keep;
    return reinterpret_cast<WindowId>(CreateWindowExW(0, className.c_str(), caption.c_str(), style, x, y,
                                                      width, height, Window(owner), nullptr,
                                                      appInstance, nullptr));
}

void Win32DialogOps::SetProgressPosition(WindowId bar, std::uint32_t position) {
    const KeepLastError keep;
    SendMessageW(Window(bar), PBM_SETPOS, position, 0);
}

void Win32DialogOps::RaiseToTop(WindowId window) {
    const KeepLastError keep;
    SetWindowPos(Window(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void Win32DialogOps::ShowWindowAs(WindowId window, std::int32_t command) {
    const KeepLastError keep;
    ShowWindow(Window(window), command);
}

void Win32DialogOps::DestroyTopLevelWindow(WindowId window) {
    const KeepLastError keep;
    DestroyWindow(Window(window));
}

void Win32DialogOps::EnableMainWindow(bool enabled) {
    const KeepLastError keep;
    EnableWindow(Main(), enabled ? TRUE : FALSE);
}

void Win32DialogOps::DiscardInput() {
    const KeepLastError keep;
    // Mouse, keys and raw input by name: PM_QS_INPUT also names touch and pointer input,
    // which systems before Windows 8 refuse as a whole.
    constexpr UINT INPUT_ONLY = (QS_MOUSE | QS_KEY | QS_RAWINPUT) << 16;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | INPUT_ONLY)) {
    }
}

void Win32DialogOps::BlockSessionEnd(const std::wstring& reason) {
    const KeepLastError keep;
    ShutdownBlockReasonCreate(Main(), reason.c_str());
}

void Win32DialogOps::AllowSessionEnd() {
    const KeepLastError keep;
    ShutdownBlockReasonDestroy(Main());
}
