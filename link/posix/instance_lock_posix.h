// One copy of the updater per user at a time, whichever of its programs (the window or the
// terminal program): the unit hands every reply to every program that has it open, so two
// copies would take each other's replies in the middle of an update.
#pragma once

#include <string>

enum class InstanceLock {
    Held,        // this copy is the one
    HeldByAnother,
    Unavailable,  // no lock could be made (the unit is still locked while open)
};

// Locks $XDG_RUNTIME_DIR/NAME.lock (else /tmp/NAME-UID.lock) for the life of the process;
// fd receives the lock's descriptor (-1 when none). The program's name decides the lock:
// a simulated build locks a name of its own.
InstanceLock HoldInstanceLock(const std::string& name, int& fd);

// The folder the lock and the window's instance socket live in: $XDG_RUNTIME_DIR, else
// /tmp; and the name of a file there for this user (NAME + suffix, the user id added in
// /tmp).
std::string InstanceFilePath(const std::string& name, const std::string& suffix);
