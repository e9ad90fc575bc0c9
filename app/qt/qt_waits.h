// Waits on the window's thread that keep its windows painted and answering (the event
// loop runs), with the user's input left waiting: a click or a key made meanwhile is
// never acted on in the middle of a talk with the unit.
#pragma once

#include <poll.h>

#include "link/posix/clock_posix.h"

// The native clock whose waits run the event loop until shortly before they end; the
// end itself is as precise as the native clock's.
class QtClock : public PosixClock {
protected:
    void SleepUntil(std::int64_t wakeUpNanos) override;
};

// poll's contract, the event loop running while nothing is ready (for the HID host).
int PollServicingWindows(pollfd* entries, nfds_t count, int timeoutMs);
