#include "app/dialog_phase.h"

#include <deque>
#include <utility>

#include "app/status_flow.h"

DialogPhase dialogPhase = DialogPhase::Idle;

namespace {

std::deque<DeviceChange> waiting;

}  // namespace

bool HandlesDeviceChanges(DialogPhase phase) {
    // While a question is open nothing is being sent: a removal then gives the unit up,
    // and the update finds out before it sends anything.
    return phase == DialogPhase::Idle || phase == DialogPhase::Asking;
}

bool TakesCommands(DialogPhase phase) {
    return phase == DialogPhase::Idle;
}

bool IgnoresCloseRequest(DialogPhase phase) {
    return phase == DialogPhase::Running || phase == DialogPhase::Reporting;
}

bool RefusesEndSession(DialogPhase phase) {
    return phase == DialogPhase::Running;
}

DeviceChange ChangeOf(const DeviceEvent& event) {
    return {event.kind == DeviceEventKind::Arrival ? DBT_EVENT_DEVICE_ARRIVAL : DBT_EVENT_DEVICE_REMOVE_COMPLETE,
            event.path};
}

void DeliverDeviceChange(DialogView& view, DeviceChange change) {
    waiting.push_back(std::move(change));
    HandleWaitingDeviceChanges(view);
}

void HandleWaitingDeviceChanges(DialogView& view) {
    // Handling one may open a unit or show a box, and so take further changes in; those
    // queue behind the rest and are taken by this loop or by the handler that runs then.
    while (!waiting.empty() && HandlesDeviceChanges(dialogPhase)) {
        DeviceChange change = std::move(waiting.front());
        waiting.pop_front();
        HandleDeviceChange(view, change);
    }
}

std::size_t WaitingDeviceChanges() {
    return waiting.size();
}

void ResetDialogPhase() {
    dialogPhase = DialogPhase::Idle;
    waiting.clear();
}
