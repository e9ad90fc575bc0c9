// The Linux window's program, shared by the product and its simulated build: one copy at a
// time (a second start brings the first to the front), the dialog in the locale's
// language, device changes from a device-event source through the event loop, and sleep
// held off while the command sequence runs.
#pragma once

#include <string>

#include "link/device_events.h"

// Runs the dialog until it ends; the process's exit status. instanceName names the lock
// shared with the terminal program; events may be one that never delivers (-1), in which
// case the dialog says it cannot follow device changes and ends.
int RunQtProgram(int argc, char** argv, const std::string& instanceName, DeviceEventSource& events);
