// The main dialog as the update's view, and the decisions of its dialog procedure that
// are more than a platform call.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_view.h"
#include "update/update_view.h"

constexpr std::uint16_t COMMAND_CLOSE = 2;      // IDCANCEL: Close, Escape, the close box
constexpr std::uint16_t COMMAND_UPDATE = 1002;  // IDC_UPDATE

// The main dialog, the one UpdateView, including the progress window shown during
// the transfer.
class MainDialog : public UpdateView {
public:
    explicit MainDialog(DialogView& view) : view_(view) {}

    // Moves the dialog's phase with the update's. For the command sequence the main
    // window takes no input and the end of the session is held off; input made meanwhile
    // is thrown away before anything else is shown. Device changes that waited are
    // handled once the update has ended.
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

private:
    DialogView& view_;
};

// A command by its id: Close ends the dialog, Update runs the whole update; 1 when the
// id is one of the two, else 0. Both are acted on only while the dialog is idle: one that
// reaches it during a check or an update is dropped.
std::intptr_t OnCommand(DialogView& view, UpdateView& update, std::uint16_t commandId);

// The close sequence: device changes no longer followed, unit given up, dialog ended
// with 2.
void CloseMainDialog(DialogView& view);
