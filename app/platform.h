// The platform an executable runs on: the HID host and the clock the link uses. The
// product and the simulated build each provide their own.
#pragma once

// Sets hidHost and systemClock; called once before the dialog runs.
void InstallPlatform();
// Releases what InstallPlatform set up, once the dialog has ended.
void RemovePlatform();
// The name of the mutex that one running copy of the program holds.
const wchar_t* InstanceName();
