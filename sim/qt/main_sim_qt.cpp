// orvanta-updater-sim on Linux: the dialog's Qt window over the simulated bus, loaded with
// the scenario ORVANTA_SIM names and steered through the control pipe
// (sim/posix/sim_control_pipe.h). The unit's reply delays wait on the window's clock, as a
// real unit's replies do.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/qt/qt_program.h"
#include "app/qt/qt_waits.h"
#include "link/posix/last_error_posix.h"
#include "sim/posix/sim_control_pipe.h"
#include "update/firmware_update.h"

int main(int argc, char** argv) {
    static QtClock clock;
    static SimHidHost bus(clock);
    bus.setLastError = [](std::uint32_t error) { SetPosixLastError(static_cast<int>(error)); };
    hidHost = &bus;
    systemClock = &clock;
    placeholderImagesAllowed = true;  // the simulated unit may take the build's images

    const char* value = std::getenv("ORVANTA_SIM");
    const std::wstring wide = value != nullptr ? std::wstring(value, value + std::char_traits<char>::length(value))
                                               : std::wstring();
    const std::string scenario = SimScenarioFromEnvironment(value != nullptr ? wide.c_str() : nullptr);
    if (!LoadSimScenario(scenario, bus)) {
        std::fprintf(stderr, "unknown ORVANTA_SIM scenario \"%s\": starting with no device\n", scenario.c_str());
    }
    SimControlPipe pipe(bus, clock);
    if (!pipe.Open()) {
        std::fprintf(stderr, "the control pipe %s cannot be opened\n", std::getenv(SIM_CONTROL_VARIABLE));
    }
    return RunQtProgram(argc, argv, "orvanta-updater-sim", pipe);
}
