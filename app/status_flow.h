// The connection status flow: dialog initialisation, and the connection check at start
// and on every HID arrival and removal, which decides the status text and whether the
// Update button is enabled.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_view.h"
#include "res/resource.h"

struct DeviceChange;

constexpr const wchar_t* MODEL_NAME = L"ORVANTA 90";
constexpr const wchar_t* TITLE_FORMAT = L"QUORVEX %s FW Updater %u.%u %s";
constexpr std::size_t TITLE_CAPACITY = 256;
constexpr std::uint16_t ESC_STATE_UPDATABLE = 3;
constexpr std::uint32_t ACCEPTED_HARDWARE_IDS[] = {0x111F408C, 0x0A06408C};
constexpr const wchar_t* HINT_SEPARATOR = L"\r\n\r\n";

constexpr std::uintptr_t DBT_EVENT_DEVICE_ARRIVAL = 0x8000;         // DBT_DEVICEARRIVAL
constexpr std::uintptr_t DBT_EVENT_DEVICE_REMOVE_COMPLETE = 0x8004; // DBT_DEVICEREMOVECOMPLETE
constexpr std::uint32_t DEVICE_TYPE_INTERFACE = 5;                  // DBT_DEVTYP_DEVICEINTERFACE

// The operations of the main dialog that the flow and the update share.
// LoadMessage is the one way the dialog loads a text: the catalogue's text in the user's
// language, within TEXT_CAPACITY.
std::wstring LoadMessage(DialogView& view, std::uint16_t id);
void SetStatusText(DialogView& view, const std::wstring& text);
void SetUpdateEnabled(DialogView& view, bool enabled);

// The status text, a blank line and the connection hint (or, for no unit, what to do
// about one that was found but could not be opened).
void ShowStatusWithHint(DialogView& view, std::uint16_t id, std::uint16_t hintId = IDS_HINT);

// Dialog initialisation: title, icon and labels, device changes followed (ending the
// dialog with 1 when that fails), the connection checked, waiting changes handled.
void InitMainDialog(DialogView& view);

// The ESC behind the open unit is not the one shown (another was connected to the unit,
// which makes no USB event); the session holds what the unit says now. A box says that
// the ESC changed and nothing was written; then the ESC is shown as an arrival of the unit
// would show it, with the version lines refreshed.
void ShowChangedEsc(DialogView& view);

// The status the last reported connection check decided (IDS_READY, IDS_NO_UNIT,
// IDS_WRONG_MODE, IDS_NO_ESC or IDS_INCOMPATIBLE_STATUS); 0 before the first. An arrival
// that brings no usable unit reports nothing and leaves it as it was.
std::uint16_t LastConnectionStatus();

// The hint shown with the last reported status: IDS_HINT, or for no unit the advice about
// one that could not be opened (TXT_NO_PERMISSION, TXT_UNIT_IN_USE); 0 with ready.
std::uint16_t LastConnectionHint();

// The last check found no unit but one another program holds. Letting it go makes no
// event: a front end searches again now and then (an arrival without a name) while so.
bool UnitInUseAtLastCheck();

// A front end's look again, now and then, at a unit in use: while the last check found
// one and the dialog handles device changes with none waiting, an arrival without a name.
void LookAgainAtUnitInUse(DialogView& view);

// The handling of one device-interface arrival or removal itself.
void HandleDeviceChange(DialogView& view, const DeviceChange& change);

// The removal's interface name names the open unit: the whole strings, with the ASCII
// letters compared without case and every other character as it is.
bool SameDevicePath(const wchar_t* name, const wchar_t* devicePath);
