// The main dialog's phase: the one place its handlers ask what they may do now. Device
// waits and the update keep the window painted and answer sent messages, so handlers run
// in the middle of an identification or an update; the phase keeps them from acting on
// a unit that is being talked to.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog_view.h"
#include "link/device_events.h"

enum class DialogPhase {
    Idle,       // waiting for the user or a device
    Checking,   // a unit is being opened and identified
    Asking,     // an update's question is open; nothing has been sent yet
    Running,    // an update's command sequence is talking to the unit
    Reporting,  // an update's outcome is being shown
};

extern DialogPhase dialogPhase;

// Whether device arrivals and removals are handled now; otherwise they wait.
bool HandlesDeviceChanges(DialogPhase phase);
// Whether the Close and Update commands are acted on now; otherwise they are dropped.
bool TakesCommands(DialogPhase phase);
// WM_CLOSE (the close box, Alt+F4, the taskbar's Close, another program): whether to
// ignore it. The dialog would turn it into a Close command that waits in the queue and
// ends the program the moment an update has ended.
bool IgnoresCloseRequest(DialogPhase phase);
// WM_QUERYENDSESSION: whether to refuse the end of the session. Ending it in the middle
// of the command sequence would leave the ESC without firmware.
bool RefusesEndSession(DialogPhase phase);

// An arrival or removal of a HID interface, kept with its own copy of the name.
struct DeviceChange {
    std::uintptr_t event;
    std::wstring name;
};

// The change an arrival or removal that a device-event source reports (udev, the simulated
// bus) stands for.
DeviceChange ChangeOf(const DeviceEvent& event);

// Hands a device change to the status flow now if the phase allows and none is waiting
// before it; otherwise it waits, and waiting changes are handled in order as soon as
// the phase allows. None is ever dropped.
void DeliverDeviceChange(DialogView& view, DeviceChange change);
// Handles the waiting device changes, as far as the phase allows.
void HandleWaitingDeviceChanges(DialogView& view);
// How many device changes are waiting.
std::size_t WaitingDeviceChanges();
// Back to a fresh dialog: Idle, nothing waiting.
void ResetDialogPhase();

// Sets the phase for a scope and puts the one before back at its end; waiting device
// changes are left for the handler that is running to take up when it is done.
class PhaseScope {
public:
    explicit PhaseScope(DialogPhase phase) : before_(dialogPhase) { dialogPhase = phase; }
    ~PhaseScope() { dialogPhase = before_; }
    PhaseScope(const PhaseScope&) = delete;
    PhaseScope& operator=(const PhaseScope&) = delete;

private:
    DialogPhase before_;
};
