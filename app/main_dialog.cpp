#include "app/main_dialog.h"

#include "app/dialog_phase.h"
#include "app/status_flow.h"
#include "app/version_display.h"
#include "link/device_session.h"
#include "res/resource.h"
#include "update/firmware_update.h"

void MainDialog::EnterPhase(UpdatePhase phase) {
    switch (phase) {
    case UpdatePhase::Checking:
        dialogPhase = DialogPhase::Checking;
        break;
    case UpdatePhase::Asking:
        dialogPhase = DialogPhase::Asking;
        break;
    case UpdatePhase::Running:
        dialogPhase = DialogPhase::Running;
        view_.HoldForSequence(LoadMessage(IDS_PROGRESS_CAPTION));
        break;
    case UpdatePhase::Reporting:
        if (dialogPhase == DialogPhase::Running) {
            // A click or key made during the sequence must not act now, nor answer the
            // box that may come next.
            view_.TakeInputAgain();
            view_.ReleaseAfterSequence();
        }
        dialogPhase = DialogPhase::Reporting;
        break;
    case UpdatePhase::Ended:
        dialogPhase = DialogPhase::Idle;
        HandleWaitingDeviceChanges(view_);
        break;
    }
}

std::wstring MainDialog::LoadMessage(std::uint16_t id) {
    return ::LoadMessage(view_, id);
}

bool MainDialog::AskConfirmation(const std::wstring& caption, const std::wstring& text) {
    return view_.Ask(BoxKind::Confirmation, caption, text);
}

bool MainDialog::AskYesNo(const std::wstring& caption, const std::wstring& text) {
    return view_.Ask(BoxKind::YesNo, caption, text);
}

void MainDialog::ShowErrorBox(const std::wstring& caption, const std::wstring& text) {
    view_.Ask(BoxKind::Error, caption, text);
}

void MainDialog::SetStatusText(const std::wstring& text) {
    ::SetStatusText(view_, text);
}

void MainDialog::SetUpdateEnabled(bool enabled) {
    ::SetUpdateEnabled(view_, enabled);
}

void MainDialog::UpdateVersionDisplay() {
    ::UpdateVersionDisplay(view_);
}

void MainDialog::OpenProgressWindow(const std::wstring& caption) {
    view_.OpenProgress(caption);
}

void MainDialog::SetProgress(std::uint32_t percent) {
    view_.ShowProgress(percent);
}

void MainDialog::CloseProgressWindow() {
    if (dialogPhase == DialogPhase::Running) {
        // The owner must take input again before its owned window goes, or Windows hands
        // the activation to another program's window.
        view_.TakeInputAgain();
    }
    view_.CloseProgress();
}

void MainDialog::ShowChangedEsc() {
    ::ShowChangedEsc(view_);
}

bool MainDialog::PrepareSequence() {
    return view_.PrepareSequence(LoadMessage(IDS_PROGRESS_CAPTION));
}

std::intptr_t OnCommand(DialogView& view, UpdateView& update, std::uint16_t commandId) {
    if (!TakesCommands(dialogPhase)) {
        // Sent in the middle of a check or an update (the waits answer sent messages):
        // closing or starting anything then would cut the talk to the unit short.
        return 1;
    }
    if (commandId == COMMAND_CLOSE) {
        CloseMainDialog(view);
        return 1;
    }
    if (commandId == COMMAND_UPDATE) {
        RunFirmwareUpdate(update);
        return 1;
    }
    return 0;
}

void CloseMainDialog(DialogView& view) {
    view.StopWatchingDeviceChanges();
    deviceSession.Reset();
    view.Finish(2);
}
