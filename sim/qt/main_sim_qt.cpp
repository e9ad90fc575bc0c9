// orvanta-updater-sim on Linux: the dialog's Qt window over the simulated bus, loaded with
// the scenario ORVANTA_SIM names and steered through the control pipe
// (sim/posix/sim_control_pipe.h). The unit's reply delays wait on the window's clock, as a
// real unit's replies do.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/qt/qt_program.h"
#include "app/qt/qt_waits.h"
#include "sim/posix/sim_control_pipe.h"

int main(int argc, char** argv) {
    static QtClock clock;
    static SimHidHost bus(clock);
    InstallSimulatedBus(bus, clock);
    SimControlPipe pipe(bus, clock);
    if (!pipe.Open()) {
        std::fprintf(stderr, "the control pipe %s cannot be opened\n", std::getenv(SIM_CONTROL_VARIABLE));
    }
    return RunQtProgram(argc, argv, "orvanta-updater-sim", pipe);
}
