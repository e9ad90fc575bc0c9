// orvanta-cli-sim on POSIX systems: the terminal program over the simulated bus, loaded
// with the scenario ORVANTA_SIM names. For watch, a driver changes the bus while the
// program runs through the control pipe (sim/posix/sim_control_pipe.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/posix/cli_platform_posix.h"
#include "cli/terminal_text.h"
#include "link/posix/clock_posix.h"
#include "link/posix/last_error_posix.h"
#include "sim/posix/sim_control_pipe.h"
#include "update/firmware_update.h"

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
    bus.setLastError = [](std::uint32_t error) { SetPosixLastError(static_cast<int>(error)); };
    hidHost = &bus;
    systemClock = &clock;
    placeholderImagesAllowed = true;  // the simulated unit may take the build's images

    const char* value = std::getenv("ORVANTA_SIM");
    const std::string scenario = SimScenarioFromEnvironment(value != nullptr ? WideFromUtf8(value).c_str() : nullptr);
    if (!LoadSimScenario(scenario, bus)) {
        std::fprintf(stderr, "unknown ORVANTA_SIM scenario \"%s\": starting with no device\n", scenario.c_str());
    }
    static SimCliPlatform platform(bus, clock);
    return RunCli(ArgumentsOf(argc, argv), platform);
}
