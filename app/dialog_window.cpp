#include "app/dialog_window.h"

#include <algorithm>

#include "app/dialog_phase.h"
#include "app/status_flow.h"
#include "res/resource.h"
#include "res/text_format.h"

WindowId mainWindow = 0;
std::uintptr_t deviceNotification = 0;

namespace {

// The group's controls in the order they are enabled and disabled.
constexpr std::int32_t VERSION_GROUP_CONTROLS[] = {
    IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION,
    IDC_UNIT_LABEL,   IDC_BOOTLOADER_LABEL,   IDC_ESC_LABEL,
};

std::uint32_t BoxFlags(BoxKind kind) {
    switch (kind) {
    case BoxKind::Error:
        return BOX_ICON_ERROR;
    case BoxKind::Information:
        return BOX_ICON_INFORMATION;
    case BoxKind::Confirmation:
        return BOX_OK_CANCEL_WARNING;
    case BoxKind::YesNo:
        return BOX_YES_NO_WARNING;
    }
    return BOX_ICON_ERROR;
}

}  // namespace

std::wstring DialogWindow::LoadText(std::uint16_t id) {
    return ops_.LoadResourceText(id);
}

void DialogWindow::ShowTitle(const std::wstring& title) {
    ops_.SetClassIcon(IDI_APP);
    ops_.SetTitle(title);
}

void DialogWindow::ShowLabels(const std::wstring& unit, const std::wstring& bootloader, const std::wstring& esc) {
    ops_.SetItemText(IDC_UNIT_LABEL, unit);
    ops_.SetItemText(IDC_BOOTLOADER_LABEL, bootloader);
    ops_.SetItemText(IDC_ESC_LABEL, esc);
}

void DialogWindow::ShowVersions(const VersionLines& lines) {
    if (!lines.unitOpen) {
        ops_.SetItemText(IDC_UNIT_VERSION, lines.unit);
        ops_.SetItemText(IDC_BOOTLOADER_VERSION, lines.bootloader);
        ops_.SetItemText(IDC_ESC_VERSION, lines.esc);
        for (const std::int32_t control : VERSION_GROUP_CONTROLS) {
            ops_.EnableControl(control, false);
        }
        return;
    }
    for (const std::int32_t control : VERSION_GROUP_CONTROLS) {
        ops_.EnableControl(control, true);
    }
    ops_.SetItemText(IDC_UNIT_VERSION, lines.unit);
    ops_.SetItemText(IDC_BOOTLOADER_VERSION, lines.bootloader);
    ops_.SetItemText(IDC_ESC_VERSION, lines.esc);
    ops_.SetItemText(IDC_UNIT_LABEL, lines.unitLabel);
}

void DialogWindow::ShowStatus(const std::wstring& text, const std::wstring& hint) {
    ops_.SetControlText(IDC_STATUS, text);
    if (hint.empty()) {
        return;
    }
    // The hint goes after what the control holds, read back within the length it reports.
    const std::int32_t length = ops_.ControlTextLength(IDC_STATUS);
    const std::size_t capacity = static_cast<std::size_t>(std::max<std::int32_t>(length, 0)) + hint.size() + 1;
    std::wstring shown = ops_.ReadControlText(IDC_STATUS, static_cast<std::int32_t>(capacity));
    AppendBounded(shown, hint, capacity);
    ops_.SetControlText(IDC_STATUS, shown);
}

void DialogWindow::EnableUpdate(bool enabled) {
    ops_.EnableControl(IDC_UPDATE, enabled);
}

bool DialogWindow::Ask(BoxKind kind, const std::wstring& caption, const std::wstring& text) {
    const std::int32_t answer = ops_.AskUser(text, caption, BoxFlags(kind));
    return kind == BoxKind::YesNo ? answer == ANSWER_YES : answer == ANSWER_OK;
}

bool DialogWindow::WatchDeviceChanges() {
    deviceNotification = ops_.RegisterForDeviceChanges();
    return deviceNotification != 0;
}

void DialogWindow::StopWatchingDeviceChanges() {
    if (deviceNotification != 0) {
        ops_.UnregisterForDeviceChanges(deviceNotification);
        deviceNotification = 0;
    }
}

void DialogWindow::Finish(std::int32_t result) {
    ops_.FinishDialog(result);
}

void DialogWindow::OpenProgress(const std::wstring& caption) {
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

void DialogWindow::ShowProgress(std::uint32_t percent) {
    ops_.SetProgressPosition(progressWindow_, percent);
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

void DialogWindow::CloseProgress() {
    ops_.DestroyTopLevelWindow(progressWindow_);
    progressWindow_ = 0;
}

void DialogWindow::HoldForSequence(const std::wstring& reason) {
    ops_.EnableMainWindow(false);
    ops_.BlockSessionEnd(reason);
}

void DialogWindow::TakeInputAgain() {
    ops_.DiscardInput();
    ops_.EnableMainWindow(true);
}

void DialogWindow::ReleaseAfterSequence() {
    ops_.AllowSessionEnd();
}

std::int32_t OnDeviceChange(DialogWindow& window, std::uintptr_t event, BroadcastId broadcast) {
    if (event != DBT_EVENT_DEVICE_ARRIVAL && event != DBT_EVENT_DEVICE_REMOVE_COMPLETE) {
        return 0;
    }
    DialogOps& ops = window.Ops();
    if (broadcast == 0 || ops.BroadcastDeviceType(broadcast) != DEVICE_TYPE_INTERFACE) {
        return 1;
    }
    // The broadcast lives only as long as this message: a change that waits keeps a copy.
    const wchar_t* name = ops.BroadcastInterfaceName(broadcast);
    DeliverDeviceChange(window, {event, name != nullptr ? name : L""});
    return 1;
}

void OnInitDialog(DialogWindow& window, WindowId id) {
    mainWindow = id;
    InitMainDialog(window);
}

bool DrawsRedText(DialogOps& ops, WindowId control) {
    return control == ops.ControlWindow(IDC_ESC_LABEL) || control == ops.ControlWindow(IDC_ESC_VERSION);
}
