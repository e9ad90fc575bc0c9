// The main dialog as the update's view, and the decisions of its dialog procedure that
// are more than a platform call.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_ops.h"
#include "update/update_view.h"

constexpr const wchar_t* PROGRESS_WINDOW_CLASS = L"msctls_progress32";
constexpr std::uint32_t PROGRESS_STYLE = 0x10000001;  // WS_VISIBLE | PBS_SMOOTH: top-level
constexpr std::int32_t PROGRESS_WIDTH = 400;
constexpr std::int32_t PROGRESS_HEIGHT = 50;

constexpr std::uint16_t COMMAND_CLOSE = 2;      // IDCANCEL: Close, Escape, the close box
constexpr std::uint16_t COMMAND_UPDATE = 1002;  // IDC_UPDATE

// The main dialog, the one UpdateView, including the progress window shown during
// the transfer.
class MainDialog : public UpdateView {
public:
    explicit MainDialog(DialogOps& ops) : ops_(ops) {}

    // Moves the dialog's phase with the update's. For the command sequence the main
    // window takes no input and the end of the Windows session is held off; input made
    // meanwhile is thrown away before anything else is shown. Device changes that waited
    // are handled once the update has ended.
    void EnterPhase(UpdatePhase phase) override;

    std::wstring LoadMessage(std::uint16_t id) override;
    bool AskConfirmation(const std::wstring& caption, const std::wstring& text) override;
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override;
    void ShowErrorBox(const std::wstring& caption, const std::wstring& text) override;
    void SetStatusText(const std::wstring& text) override;
    void SetUpdateEnabled(bool enabled) override;
    void UpdateVersionDisplay() override;
    void OpenProgressWindow(const std::wstring& caption) override;
    void SetProgress(std::uint32_t percent) override;
    void CloseProgressWindow() override;
    void ShowChangedEsc() override;
    bool PrepareSequence() override;

    WindowId ProgressWindow() const { return progressWindow_; }

private:
    void GiveInputBack();

    DialogOps& ops_;
    WindowId progressWindow_ = 0;
    // The foreground window seen when both windows were last raised; empty while open
    // and not yet raised.
    WindowId rememberedForeground_ = 0;
};

// WM_COMMAND by the low word of wParam: Close ends the dialog, Update runs the whole
// update; the dialog procedure's result (1 handled, 0 not). Both are acted on only while
// the dialog is idle: one that reaches it during a check or an update is dropped.
std::intptr_t OnCommand(DialogOps& ops, UpdateView& view, std::uint16_t commandId);

// The close sequence: registration dropped, unit given up, dialog ended with 2.
void CloseMainDialog(DialogOps& ops);

// WM_CTLCOLORSTATIC: whether the static control is one of the third version line's two,
// which are drawn red.
bool DrawsRedText(DialogOps& ops, WindowId control);
