// Holds off sleep, shutdown and the lid switch while an update runs, through logind's
// inhibitor lock on the system bus. A half-written ESC must not be left for hours because
// a laptop's lid was closed.
#pragma once

#include <string>

// Who holds the lock, as the desktop names it.
constexpr const char* SLEEP_INHIBITOR_WHO = "QUORVEX ORVANTA 90 FW Updater";

enum class InhibitResult {
    Held,         // the lock is held until ReleaseSleepInhibitor
    Unavailable,  // no system bus, or no logind on it: this system has no way
    Refused,      // logind is there but gave no lock (not allowed, no answer in time, ...)
};

// Asks logind for a "block" inhibitor of "sleep:shutdown:handle-lid-switch", with who (the
// program's name) and why (shown by the desktop when the user tries to suspend), waiting
// at most a few seconds in all. On Held, *lock is the descriptor that holds it.
InhibitResult TakeSleepInhibitor(const std::string& who, const std::string& why, int* lock);
// Closes the descriptor; logind lets the system sleep again.
void ReleaseSleepInhibitor(int lock);
