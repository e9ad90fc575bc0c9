// orvanta-cli-sim on POSIX systems: the terminal program over the simulated bus, loaded
// with the scenario ORVANTA_SIM names. For watch, a driver changes the bus while the
// program runs through the control pipe (sim/posix/sim_control_pipe.h).
#include "cli/posix/cli_platform_posix.h"
#include "link/posix/clock_posix.h"
#include "sim/posix/sim_control_pipe.h"

namespace {

class SimCliPlatform : public PosixCliPlatform {
public:
    SimCliPlatform(SimHidHost& bus, Clock& clock) : PosixCliPlatform("orvanta-updater-sim"), pipe_(bus, clock) {}

    bool StartWatching() override { return pipe_.Open(); }
    Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) override {
        return WaitForEvent(pipe_, change, timeoutMs);
    }

private:
    SimControlPipe pipe_;
};

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    // The unit's reply delays wait on the program's clock, as a real unit's replies do.
    static PosixClock clock;
    static SimHidHost bus(clock);
    InstallSimulatedBus(bus, clock);
    static SimCliPlatform platform(bus, clock);
    return RunCli(ArgumentsOf(argc, argv), platform);
}
