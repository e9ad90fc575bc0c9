// Waiting on the dialog's thread without freezing its windows.
#pragma once

#include <windows.h>

// Waits until object is signalled or timeoutMs have passed (INFINITE: no bound). Meanwhile
// the thread's windows are painted and messages sent to them are answered, so Windows
// never takes the window for hung; input and posted messages stay in the queue.
// Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitServicingWindows(HANDLE object, DWORD timeoutMs);
