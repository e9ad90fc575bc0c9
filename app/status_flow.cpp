#include "app/status_flow.h"

#include <algorithm>

#include "app/dialog_phase.h"
#include "res/text_format.h"
#include "app/version_display.h"
#include "link/device_session.h"
#include "link/link.h"
#include "res/resource.h"
#include "update/firmware_update.h"

WindowId mainWindow = 0;
std::uintptr_t deviceNotification = 0;

namespace {

// Start-up and arrival as the dialog has always known them; Changed, an ESC found
// changed behind the open unit when Update was pressed.
enum class CheckForm { StartUp, Arrival, Changed };

bool AcceptedHardware(std::uint32_t hardwareId) {
    return std::find(std::begin(ACCEPTED_HARDWARE_IDS), std::end(ACCEPTED_HARDWARE_IDS), hardwareId) !=
           std::end(ACCEPTED_HARDWARE_IDS);
}

wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// How many checks have accepted a unit; tells whether one was accepted inside a box.
unsigned acceptedChecks = 0;
std::uint16_t lastConnectionStatus = 0;

// Decides what the status box says about the unit opened (opened: OpenUnit's code).
void DecideConnection(DialogOps& ops, CheckForm form, std::int32_t opened) {
    if (opened != LINK_OK && form == CheckForm::Arrival) {
        // An arrival that brings no usable unit is not reported; a unit opened before
        // its identification failed stays held until it is removed.
        return;
    }

    std::uint16_t status = IDS_READY;
    if (opened != LINK_OK) {
        status = IDS_NO_UNIT;
    } else if (deviceSession.unitMode != 0) {
        status = IDS_WRONG_MODE;
    } else if (deviceSession.escState != ESC_STATE_UPDATABLE) {
        status = IDS_NO_ESC;
    } else if (!AcceptedHardware(deviceSession.escBootInfo.escHardwareId)) {
        status = IDS_INCOMPATIBLE_STATUS;
    }

    lastConnectionStatus = status;
    if (status == IDS_READY) {
        deviceSession.accepted = true;
        ++acceptedChecks;
        SetStatusText(ops, LoadMessage(ops, IDS_READY));
        if (form != CheckForm::StartUp) {
            UpdateVersionDisplay(ops);
        }
        SetUpdateEnabled(ops, true);
    } else {
        SetUpdateEnabled(ops, false);
        deviceSession.Reset();
        if (form == CheckForm::Changed) {
            // An arrival finds the version lines in the no-unit state already; those of
            // the ESC that was there must not stand beside what is said of this one.
            UpdateVersionDisplay(ops);
        }
        bool supersededByArrival = false;
        if (status == IDS_INCOMPATIBLE_STATUS) {
            const unsigned acceptedBefore = acceptedChecks;
            const std::wstring text =
                FormatText(LoadMessage(ops, IDS_INCOMPATIBLE_ESC), {MODEL_NAME}, TEXT_CAPACITY);
            ops.AskUser(text, LoadMessage(ops, IDS_INCOMPATIBLE_CAPTION), BOX_ICON_INFORMATION);
            // The box runs its own message loop: a unit that arrived and was accepted
            // meanwhile has said so already, and must not be called foreign now.
            supersededByArrival = acceptedChecks != acceptedBefore;
        }
        if (!supersededByArrival) {
            ShowStatusWithHint(ops, status);
        }
    }

    if (form == CheckForm::StartUp) {
        UpdateVersionDisplay(ops);
    }
}

// Opens the first unit present and decides what the status box says about it.
void CheckConnection(DialogOps& ops, CheckForm form) {
    std::int32_t opened;
    {
        // The exchanges wait for the unit; device changes that come meanwhile must not
        // close it under them.
        const PhaseScope checking(DialogPhase::Checking);
        opened = OpenUnit(deviceSession);
    }
    DecideConnection(ops, form, opened);
}

}  // namespace

void ShowChangedEsc(DialogOps& ops) {
    ops.AskUser(LoadMessage(ops, IDS_ESC_CHANGED), LoadMessage(ops, IDS_ESC_CHANGED_CAPTION), BOX_ICON_INFORMATION);
    DecideConnection(ops, CheckForm::Changed, LINK_OK);
}

std::uint16_t LastConnectionStatus() {
    return lastConnectionStatus;
}

std::wstring LoadMessage(DialogOps& ops, std::uint16_t id) {
    std::wstring text = ops.LoadResourceText(id);
    TruncateText(text, TEXT_CAPACITY);
    return text;
}

void SetStatusText(DialogOps& ops, const std::wstring& text) {
    ops.SetControlText(IDC_STATUS, text);
}

void SetUpdateEnabled(DialogOps& ops, bool enabled) {
    ops.EnableControl(IDC_UPDATE, enabled);
}

void ShowStatusWithHint(DialogOps& ops, std::uint16_t id) {
    std::wstring buffer = LoadMessage(ops, id);
    AppendBounded(buffer, HINT_SEPARATOR, TEXT_CAPACITY);
    SetStatusText(ops, buffer);

    buffer = LoadMessage(ops, IDS_HINT);
    const std::int32_t length = ops.ControlTextLength(IDC_STATUS);
    const std::size_t capacity =
        static_cast<std::size_t>(std::max<std::int32_t>(length, 0)) + buffer.size() + 1;
    std::wstring text = ops.ReadControlText(IDC_STATUS, static_cast<std::int32_t>(capacity));
    AppendBounded(text, buffer, capacity);
    ops.SetControlText(IDC_STATUS, text);
}

void OnInitDialog(DialogOps& ops, WindowId window) {
    mainWindow = window;
    ops.SetClassIcon(IDI_APP);
    // A development build says so where nobody can miss it.
    ops.SetTitle(FormatText(TITLE_FORMAT,
                            {MODEL_NAME, std::uint32_t{IMAGE_VERSION >> 8}, std::uint32_t{IMAGE_VERSION & 0xFF},
                             IsDevelopmentBuild() ? DEVELOPMENT_TITLE_MARKER : L""},
                            TITLE_CAPACITY));
    ops.SetItemText(IDC_UNIT_LABEL, LoadMessage(ops, IDS_UNIT_LABEL));
    ops.SetItemText(IDC_BOOTLOADER_LABEL, LoadMessage(ops, IDS_BOOTLOADER_LABEL));
    ops.SetItemText(IDC_ESC_LABEL, LoadMessage(ops, IDS_ESC_LABEL));

    deviceNotification = ops.RegisterForDeviceChanges();
    if (deviceNotification == 0) {
        const std::wstring caption = LoadMessage(ops, IDS_APP_ERROR_CAPTION);
        const std::wstring text = LoadMessage(ops, IDS_REGISTER_FAILED);
        ops.AskUser(text, caption, BOX_ICON_ERROR);
        deviceSession.Reset();
        ops.FinishDialog(1);
        return;
    }

    CheckConnection(ops, CheckForm::StartUp);
    HandleWaitingDeviceChanges(ops);
}

std::int32_t OnDeviceChange(DialogOps& ops, std::uintptr_t event, BroadcastId broadcast) {
    if (event != DBT_EVENT_DEVICE_ARRIVAL && event != DBT_EVENT_DEVICE_REMOVE_COMPLETE) {
        return 0;
    }
    if (broadcast == 0 || ops.BroadcastDeviceType(broadcast) != DEVICE_TYPE_INTERFACE) {
        return 1;
    }
    // The broadcast lives only as long as this message: a change that waits keeps a copy.
    const wchar_t* name = ops.BroadcastInterfaceName(broadcast);
    DeliverDeviceChange(ops, {event, name != nullptr ? name : L""});
    return 1;
}

void HandleDeviceChange(DialogOps& ops, const DeviceChange& change) {
    if (change.event == DBT_EVENT_DEVICE_ARRIVAL) {
        if (deviceSession.handle != NO_DEVICE_HANDLE) {
            return;  // the open unit stays; a second one is ignored
        }
        CheckConnection(ops, CheckForm::Arrival);
        return;
    }

    if (deviceSession.handle == NO_DEVICE_HANDLE ||
        !SameDevicePath(change.name.c_str(), deviceSession.devicePath.get())) {
        return;
    }
    deviceSession.Reset();
    SetUpdateEnabled(ops, false);
    UpdateVersionDisplay(ops);
    ShowStatusWithHint(ops, IDS_CONNECTION_LOST);
}

bool SameDevicePath(const wchar_t* name, const wchar_t* devicePath) {
    if (name == nullptr || devicePath == nullptr) {
        return false;
    }
    for (;; ++name, ++devicePath) {
        if (FoldAscii(*name) != FoldAscii(*devicePath)) {
            return false;
        }
        if (*name == L'\0') {
            return true;
        }
    }
}
