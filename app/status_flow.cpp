#include "app/status_flow.h"

#include <algorithm>

#include "app/dialog_phase.h"
#include "res/text_format.h"
#include "app/version_display.h"
#include "link/device_session.h"
#include "link/link.h"
#include "res/resource.h"
#include "res/terminal_texts.h"
#include "update/firmware_update.h"

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

// The hint shown with the last status (0 with none); whether it was advice about a unit
// found that could not be opened.
std::uint16_t lastConnectionHint = 0;

// What to do when no unit could be opened: the search may have passed over one this user
// may not open (no udev rule) or one another program holds; else the connection hint. A
// front end whose catalogue has no such advice (the Windows string tables, on a system
// that never reports either) shows the connection hint.
std::uint16_t NoUnitHint(DialogView& view) {
    const std::uint16_t advice = UnitDeniedAtLastOpen()  ? TXT_NO_PERMISSION
                                 : UnitBusyAtLastOpen() ? TXT_UNIT_IN_USE
                                                        : IDS_HINT;
    return advice != IDS_HINT && view.LoadText(advice).empty() ? IDS_HINT : advice;
}

bool ShowsAdvice() {
    return lastConnectionHint == TXT_NO_PERMISSION || lastConnectionHint == TXT_UNIT_IN_USE;
}

// Decides what the status box says about the unit opened (opened: OpenUnit's code).
void DecideConnection(DialogView& view, CheckForm form, std::int32_t opened) {
    const std::uint16_t noUnitHint = opened != LINK_OK ? NoUnitHint(view) : IDS_HINT;
    if (opened != LINK_OK && form == CheckForm::Arrival &&
        (deviceSession.handle != NO_DEVICE_HANDLE || (noUnitHint == IDS_HINT && !ShowsAdvice()))) {
        // An arrival that brings no usable unit is not reported; a unit opened before
        // its identification failed stays held until it is removed. One this user may
        // not open, or one another program holds, is: something can be done about it;
        // and once that is said, a search that no longer finds it says so too.
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
    lastConnectionHint = status == IDS_READY ? 0 : status == IDS_NO_UNIT ? noUnitHint : IDS_HINT;
    if (status == IDS_READY) {
        deviceSession.accepted = true;
        ++acceptedChecks;
        SetStatusText(view, LoadMessage(view, IDS_READY));
        if (form != CheckForm::StartUp) {
            UpdateVersionDisplay(view);
        }
        SetUpdateEnabled(view, true);
    } else {
        SetUpdateEnabled(view, false);
        deviceSession.Reset();
        if (form == CheckForm::Changed) {
            // An arrival finds the version lines in the no-unit state already; those of
            // the ESC that was there must not stand beside what is said of this one.
            UpdateVersionDisplay(view);
        }
        bool supersededByArrival = false;
        if (status == IDS_INCOMPATIBLE_STATUS) {
            const unsigned acceptedBefore = acceptedChecks;
            const std::wstring text =
                FormatText(LoadMessage(view, IDS_INCOMPATIBLE_ESC), {MODEL_NAME}, TEXT_CAPACITY);
            view.Ask(BoxKind::Information, LoadMessage(view, IDS_INCOMPATIBLE_CAPTION), text);
            // The box runs its own message loop: a unit that arrived and was accepted
            // meanwhile has said so already, and must not be called foreign now.
            supersededByArrival = acceptedChecks != acceptedBefore;
        }
        if (!supersededByArrival) {
            ShowStatusWithHint(view, status, lastConnectionHint);
        }
    }

    if (form == CheckForm::StartUp) {
        UpdateVersionDisplay(view);
    }
}

// Opens the first unit present and decides what the status box says about it.
void CheckConnection(DialogView& view, CheckForm form) {
    std::int32_t opened;
    {
        // The exchanges wait for the unit; device changes that come meanwhile must not
        // close it under them.
        const PhaseScope checking(DialogPhase::Checking);
        opened = OpenUnit(deviceSession);
    }
    DecideConnection(view, form, opened);
}

}  // namespace

void ShowChangedEsc(DialogView& view) {
    view.Ask(BoxKind::Information, LoadMessage(view, IDS_ESC_CHANGED_CAPTION), LoadMessage(view, IDS_ESC_CHANGED));
    DecideConnection(view, CheckForm::Changed, LINK_OK);
}

std::uint16_t LastConnectionStatus() {
    return lastConnectionStatus;
}

std::uint16_t LastConnectionHint() {
    return lastConnectionHint;
}

bool UnitInUseAtLastCheck() {
    return lastConnectionStatus == IDS_NO_UNIT && deviceSession.handle == NO_DEVICE_HANDLE &&
           UnitBusyAtLastOpen() && !UnitDeniedAtLastOpen();
}

void LookAgainAtUnitInUse(DialogView& view) {
    if (UnitInUseAtLastCheck() && HandlesDeviceChanges(dialogPhase) && WaitingDeviceChanges() == 0) {
        DeliverDeviceChange(view, {DBT_EVENT_DEVICE_ARRIVAL, L""});
    }
}

std::wstring LoadMessage(DialogView& view, std::uint16_t id) {
    std::wstring text = view.LoadText(id);
    TruncateText(text, TEXT_CAPACITY);
    return text;
}

void SetStatusText(DialogView& view, const std::wstring& text) {
    view.ShowStatus(text, L"");
}

void SetUpdateEnabled(DialogView& view, bool enabled) {
    view.EnableUpdate(enabled);
}

void ShowStatusWithHint(DialogView& view, std::uint16_t id, std::uint16_t hintId) {
    std::wstring text = LoadMessage(view, id);
    AppendBounded(text, HINT_SEPARATOR, TEXT_CAPACITY);
    view.ShowStatus(text, LoadMessage(view, hintId));
}

void InitMainDialog(DialogView& view) {
    // A development build says so where nobody can miss it.
    view.ShowTitle(FormatText(TITLE_FORMAT,
                              {MODEL_NAME, std::uint32_t{IMAGE_VERSION >> 8}, std::uint32_t{IMAGE_VERSION & 0xFF},
                               IsDevelopmentBuild() ? DEVELOPMENT_TITLE_MARKER : L""},
                              TITLE_CAPACITY));
    view.ShowLabels(LoadMessage(view, IDS_UNIT_LABEL), LoadMessage(view, IDS_BOOTLOADER_LABEL),
                    LoadMessage(view, IDS_ESC_LABEL));

    lastConnectionStatus = 0;
    lastConnectionHint = 0;
    if (!view.WatchDeviceChanges()) {
        const std::wstring caption = LoadMessage(view, IDS_APP_ERROR_CAPTION);
        const std::wstring text = LoadMessage(view, IDS_REGISTER_FAILED);
        view.Ask(BoxKind::Error, caption, text);
        deviceSession.Reset();
        view.Finish(1);
        return;
    }

    CheckConnection(view, CheckForm::StartUp);
    HandleWaitingDeviceChanges(view);
}

void HandleDeviceChange(DialogView& view, const DeviceChange& change) {
    if (change.event == DBT_EVENT_DEVICE_ARRIVAL) {
        if (deviceSession.handle != NO_DEVICE_HANDLE) {
            return;  // the open unit stays; a second one is ignored
        }
        CheckConnection(view, CheckForm::Arrival);
        return;
    }

    if (deviceSession.handle == NO_DEVICE_HANDLE && ShowsAdvice()) {
        // The unit the advice is about may be the one that went: the search tells.
        CheckConnection(view, CheckForm::Arrival);
        return;
    }
    if (deviceSession.handle == NO_DEVICE_HANDLE ||
        !SameDevicePath(change.name.c_str(), deviceSession.devicePath.get())) {
        return;
    }
    deviceSession.Reset();
    SetUpdateEnabled(view, false);
    UpdateVersionDisplay(view);
    ShowStatusWithHint(view, IDS_CONNECTION_LOST);
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
