// The control window's side of sim/sim_control.h, shared by the simulated builds.
#pragma once

#include <windows.h>

#include "sim/sim_bus_control.h"

// Carries out the command a WM_COPYDATA's record holds on control: TRUE when it was
// understood and done.
inline LRESULT RunCopiedCommand(SimBusControl& control, LPARAM lParam) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const std::wstring argument =
        data->lpData == nullptr
            ? std::wstring()
            : std::wstring(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    return control.Run(static_cast<std::uint32_t>(data->dwData), argument) ? TRUE : FALSE;
}
