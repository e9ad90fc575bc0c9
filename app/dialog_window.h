// The main dialog as the Windows dialog draws it: every operation of the dialog's view
// carried out as the user32 calls (DialogOps) that make it, in their order. Portable, so
// the calls themselves are tested without Windows.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_ops.h"
#include "app/dialog_view.h"

constexpr const wchar_t* PROGRESS_WINDOW_CLASS = L"msctls_progress32";
constexpr std::uint32_t PROGRESS_STYLE = 0x10000001;  // WS_VISIBLE | PBS_SMOOTH: top-level
constexpr std::int32_t PROGRESS_WIDTH = 400;
constexpr std::int32_t PROGRESS_HEIGHT = 50;

class DialogWindow : public DialogView {
public:
    explicit DialogWindow(DialogOps& ops) : ops_(ops) {}

    DialogOps& Ops() { return ops_; }
    WindowId ProgressWindow() const { return progressWindow_; }

    // LoadStringW.
    std::wstring LoadText(std::uint16_t id) override;
    // The icon on the window's class, then WM_SETTEXT.
    void ShowTitle(const std::wstring& title) override;
    void ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) override;
    // The three version texts, then the six controls of the group enabled or disabled;
    // with a unit, enabled first and the unit's label last.
    void ShowVersions(const VersionLines& lines) override;
    // The status text; a hint is appended to what the control reads back.
    void ShowStatus(const std::wstring& text, const std::wstring& hint) override;
    void EnableUpdate(bool enabled) override;
    // MessageBoxW with the box's flags.
    bool Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) override;
    // RegisterDeviceNotificationW for HID interfaces, kept in deviceNotification.
    bool WatchDeviceChanges() override;
    void StopWatchingDeviceChanges() override;
    // EndDialog.
    void Finish(std::int32_t result) override;
    // A top-level progress bar owned by the main window, centred on it; both raised.
    void OpenProgress(const std::wstring& caption) override;
    // PBM_SETPOS; both windows raised and shown once, after the first position at which
    // one of them has the foreground, so the bar is not left behind another program's
    // window.
    void ShowProgress(std::uint32_t percent) override;
    void CloseProgress() override;
    // The main window disabled; the session's end blocked with the reason.
    void HoldForSequence(const std::wstring& reason) override;
    // The queued input discarded, then the main window enabled.
    void TakeInputAgain() override;
    void ReleaseAfterSequence() override;
    // The window needs nothing more than it has; the session's end is held off with
    // HoldForSequence.
    bool PrepareSequence(const std::wstring&) override { return true; }

private:
    DialogOps& ops_;
    WindowId progressWindow_ = 0;
    // The foreground window seen when both windows were last raised; empty while open
    // and not yet raised.
    WindowId rememberedForeground_ = 0;
};

// WM_DEVICECHANGE: 1 for arrival and removal, whatever was done, 0 for other events.
// An arrival or removal of a device interface goes to the status flow with a copy of
// its name (app/dialog_phase.h).
std::int32_t OnDeviceChange(DialogWindow& window, std::uintptr_t event, BroadcastId broadcast);

// WM_INITDIALOG: keeps the window and initialises the dialog (InitMainDialog).
void OnInitDialog(DialogWindow& window, WindowId id);

// WM_CTLCOLORSTATIC: whether the static control is one of the third version line's two,
// which are drawn red.
bool DrawsRedText(DialogOps& ops, WindowId control);
