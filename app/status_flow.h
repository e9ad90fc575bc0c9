// The connection status flow: dialog initialisation, and the connection check at start
// and on every HID arrival and removal, which decides the status text and whether the
// Update button is enabled.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_ops.h"

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

// The window operations of the main dialog that the flow and the update share.
// LoadMessage is the one way the dialog loads a text: the catalogue's text in the user's
// language, within TEXT_CAPACITY.
std::wstring LoadMessage(DialogOps& ops, std::uint16_t id);
void SetStatusText(DialogOps& ops, const std::wstring& text);
void SetUpdateEnabled(DialogOps& ops, bool enabled);

// The status text, a blank line and the connection hint, built by reading back what
// the status box holds after the status text and the separator were written.
void ShowStatusWithHint(DialogOps& ops, std::uint16_t id);

// WM_INITDIALOG: keeps the window, sets icon, title and labels, registers for device
// changes (ending the dialog with 1 when that fails) and checks the connection.
void OnInitDialog(DialogOps& ops, WindowId window);

// WM_DEVICECHANGE: 1 for arrival and removal, whatever was done, 0 for other events.
// An arrival or removal of a device interface is handled now, or once the dialog's phase
// allows (app/dialog_phase.h).
std::int32_t OnDeviceChange(DialogOps& ops, std::uintptr_t event, BroadcastId broadcast);

// The ESC behind the open unit is not the one shown (another was connected to the unit,
// which makes no USB event); the session holds what the unit says now. A box says that
// the ESC changed and nothing was written; then the ESC is shown as an arrival of the unit
// would show it, with the version lines refreshed.
void ShowChangedEsc(DialogOps& ops);

// The status the last reported connection check decided (IDS_READY, IDS_NO_UNIT,
// IDS_WRONG_MODE, IDS_NO_ESC or IDS_INCOMPATIBLE_STATUS); 0 before the first. An arrival
// that brings no usable unit reports nothing and leaves it as it was.
std::uint16_t LastConnectionStatus();

// The handling of one device-interface arrival or removal itself.
void HandleDeviceChange(DialogOps& ops, const DeviceChange& change);

// The removal's interface name names the open unit: the whole strings, with the ASCII
// letters compared without case and every other character as it is.
bool SameDevicePath(const wchar_t* name, const wchar_t* devicePath);
