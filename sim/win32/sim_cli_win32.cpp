// orvanta-cli-sim.exe: the terminal program over the simulated bus, loaded with the
// scenario ORVANTA_SIM names. For watch it keeps the control window of the dialog's
// simulated build (sim/sim_control.h), through which a driver changes the bus.
#include "app/platform.h"
#include "cli/win32/cli_platform_win32.h"
#include "link/win32/clock_win32.h"
#include "sim/sim_bus_control.h"
#include "sim/sim_control.h"
#include "update/firmware_update.h"

#include <windows.h>

#include "sim/win32/sim_control_win32.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

class SimCliPlatform : public Win32CliPlatform {
public:
    SimCliPlatform(SimHidHost& bus, Clock& clock)
        : Win32CliPlatform(SIMULATED_INSTANCE_NAME),
          control_(bus, clock, [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); },
                   [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); }) {}

    bool StartWatching() override {
        if (!CreateWindowOfClass(SIM_CONTROL_CLASS, true)) {
            return false;
        }
        SetWindowLongPtrW(static_cast<HWND>(Window()), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc));
        return true;
    }

private:
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_COPYDATA || self == nullptr) {
            return DefWindowProcW(window, message, wParam, lParam);
        }
        return RunCopiedCommand(self->control_, lParam);
    }

public:
    static SimCliPlatform* self;

private:
    SimBusControl control_;
};

SimCliPlatform* SimCliPlatform::self = nullptr;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The unit's reply delays wait on the program's clock, as a real unit's replies do.
    static Win32Clock clock;
    static SimHidHost bus(clock);
    bus.setLastError = [](std::uint32_t error) { SetLastError(error); };
    hidHost = &bus;
    systemClock = &clock;
    placeholderImagesAllowed = true;  // the simulated unit may take the build's images

    const std::string scenario = SimScenarioFromEnvironment(_wgetenv(SIM_SCENARIO_VARIABLE));
    if (!LoadSimScenario(scenario, bus)) {
        std::fprintf(stderr, "unknown %ls scenario \"%s\": starting with no device\n", SIM_SCENARIO_VARIABLE,
                     scenario.c_str());
    }
    static SimCliPlatform platform(bus, clock);
    SimCliPlatform::self = &platform;
    return RunCli(ArgumentsOf(argc, argv), platform);
}
