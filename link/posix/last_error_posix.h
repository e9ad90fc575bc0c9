// The platform's last error on POSIX systems. errno is overwritten by almost any later
// call, the waits between exchanges included, so the seam sides keep the errno of their
// failing call here, per thread, and the clock's LastError reports it (as GetLastError
// does on Windows). A call that succeeds leaves 0, so the value always describes the
// seam's last call.
#pragma once

#include <cstdint>

std::uint32_t PosixLastError();
void SetPosixLastError(int error);
