// The platform an executable runs on: the HID host and the clock the link uses. The
// product and the simulated build each provide their own.
#pragma once

// Sets hidHost and systemClock; called once before the dialog runs.
void InstallPlatform();
// Releases what InstallPlatform set up, once the dialog has ended.
void RemovePlatform();
// The name of the mutex that one running copy of the program holds.
const wchar_t* InstanceName();

// The names the programs use: the dialog and the terminal program share one, so that
// neither talks to the unit while the other may; the simulated builds share another.
// Global: a copy in another Windows session (another user switched to, a remote or SSH
// session) would open the same unit and take its replies. A mutex another user holds
// cannot be opened (access denied), which counts as another copy running.
constexpr const wchar_t* PRODUCT_INSTANCE_NAME = L"Global\\QUORVEX.ORVANTA90.FWUpdater";
constexpr const wchar_t* SIMULATED_INSTANCE_NAME = L"Global\\QUORVEX.ORVANTA90.FWUpdater.Simulated";
