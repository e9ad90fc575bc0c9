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
        ops_.EnableMainWindow(false);
        ops_.BlockSessionEnd(LoadMessage(IDS_PROGRESS_CAPTION));
        break;
    case UpdatePhase::Reporting:
        if (dialogPhase == DialogPhase::Running) {
            GiveInputBack();
            ops_.AllowSessionEnd();
        }
        dialogPhase = DialogPhase::Reporting;
        break;
    case UpdatePhase::Ended:
        dialogPhase = DialogPhase::Idle;
        HandleWaitingDeviceChanges(ops_);
        break;
    }
}

void MainDialog::GiveInputBack() {
    // A click or key made during the sequence must not act now, nor answer the box that
    // may come next.
    ops_.DiscardInput();
    ops_.EnableMainWindow(true);
}

std::wstring MainDialog::LoadMessage(std::uint16_t id) {
    return ::LoadMessage(ops_, id);
}

bool MainDialog::AskConfirmation(const std::wstring& caption, const std::wstring& text) {
    return ops_.AskUser(text, caption, BOX_OK_CANCEL_WARNING) == ANSWER_OK;
}

bool MainDialog::AskYesNo(const std::wstring& caption, const std::wstring& text) {
    return ops_.AskUser(text, caption, BOX_YES_NO_WARNING) == ANSWER_YES;
}

void MainDialog::ShowErrorBox(const std::wstring& caption, const std::wstring& text) {
    ops_.AskUser(text, caption, BOX_ICON_ERROR);
}

void MainDialog::SetStatusText(const std::wstring& text) {
    ::SetStatusText(ops_, text);
}

void MainDialog::SetUpdateEnabled(bool enabled) {
    ::SetUpdateEnabled(ops_, enabled);
}

void MainDialog::UpdateVersionDisplay() {
    ::UpdateVersionDisplay(ops_);
}

void MainDialog::OpenProgressWindow(const std::wstring& caption) {
    const WindowRect main = ops_.WindowRectangle(mainWindow);
    const std::int32_t x = main.left + ((main.right - main.left) >> 1) - PROGRESS_WIDTH / 2;
    const std::int32_t y = main.top + ((main.bottom - main.top) >> 1) - PROGRESS_HEIGHT / 2;
    progressWindow_ = ops_.CreateTopLevelWindow(PROGRESS_WINDOW_CLASS, caption, PROGRESS_STYLE, x, y,
                                                PROGRESS_WIDTH, PROGRESS_HEIGHT, mainWindow);
    rememberedForeground_ = 0;
    ops_.SetProgressPosition(progressWindow_, 0);
    ops_.RaiseToTop(mainWindow);
    ops_.RaiseToTop(progressWindow_);
}

void MainDialog::SetProgress(std::uint32_t percent) {
    ops_.SetProgressPosition(progressWindow_, percent);
    // Raise both windows once, after the first block at whose end one of them has the
    // foreground, so the bar is not left behind another program's window.
    if (rememberedForeground_ == mainWindow || rememberedForeground_ == progressWindow_) {
        return;
    }
    if (!(ops_.ForegroundWindow() == mainWindow || ops_.ForegroundWindow() == progressWindow_)) {
        return;
    }
    rememberedForeground_ = ops_.ForegroundWindow();
    ops_.RaiseToTop(mainWindow);
    ops_.RaiseToTop(progressWindow_);
    ops_.ShowWindowAs(mainWindow, SHOW_NORMAL_STATE);
    ops_.ShowWindowAs(progressWindow_, SHOW_NORMAL_STATE);
}

void MainDialog::CloseProgressWindow() {
    if (dialogPhase == DialogPhase::Running) {
        // The owner must take input again before its owned window goes, or Windows hands
        // the activation to another program's window.
        GiveInputBack();
    }
    ops_.DestroyTopLevelWindow(progressWindow_);
    progressWindow_ = 0;
}

void MainDialog::ShowChangedEsc() {
    ::ShowChangedEsc(ops_);
}

bool MainDialog::PrepareSequence() {
    return ops_.PrepareSequence();
}

std::intptr_t OnCommand(DialogOps& ops, UpdateView& view, std::uint16_t commandId) {
    if (!TakesCommands(dialogPhase)) {
        // Sent in the middle of a check or an update (the waits answer sent messages):
        // closing or starting anything then would cut the talk to the unit short.
        return 1;
    }
    if (commandId == COMMAND_CLOSE) {
        CloseMainDialog(ops);
        return 1;
    }
    if (commandId == COMMAND_UPDATE) {
        RunFirmwareUpdate(view);
        return 1;
    }
    return 0;
}

void CloseMainDialog(DialogOps& ops) {
    if (deviceNotification != 0) {
        ops.UnregisterForDeviceChanges(deviceNotification);
        deviceNotification = 0;
    }
    deviceSession.Reset();
    ops.FinishDialog(2);
}

bool DrawsRedText(DialogOps& ops, WindowId control) {
    return control == ops.ControlWindow(IDC_ESC_LABEL) || control == ops.ControlWindow(IDC_ESC_VERSION);
}
