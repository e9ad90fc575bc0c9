// The terminal program's exit statuses, for scripts.
#pragma once

#include <cstdint>

constexpr std::int32_t EXIT_READY = 0;           // status: ready; update: updated
constexpr std::int32_t EXIT_FAILURE_OTHER = 1;   // the program itself could not do its work
constexpr std::int32_t EXIT_NO_UNIT = 2;
constexpr std::int32_t EXIT_WRONG_MODE = 3;
constexpr std::int32_t EXIT_NO_ESC = 4;
constexpr std::int32_t EXIT_INCOMPATIBLE = 5;
constexpr std::int32_t EXIT_CANCELLED = 6;       // cancelled or refused; nothing was sent
constexpr std::int32_t EXIT_UPDATE_FAILED = 7;
constexpr std::int32_t EXIT_NO_PERMISSION = 8;   // a unit was found but may not be opened
constexpr std::int32_t EXIT_USAGE = 64;
