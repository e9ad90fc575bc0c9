#include "link/posix/last_error_posix.h"

namespace {

thread_local std::uint32_t lastError = 0;

}  // namespace

std::uint32_t PosixLastError() {
    return lastError;
}

void SetPosixLastError(int error) {
    lastError = static_cast<std::uint32_t>(error);
}
