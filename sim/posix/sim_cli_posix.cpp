// orvanta-cli-sim on POSIX systems: the terminal program over the simulated bus, loaded
// with the scenario ORVANTA_SIM names. For watch, a driver changes the bus while the
// program runs by writing lines to the named pipe ORVANTA_SIM_CONTROL names:
//   plug SCENARIO | unplug [PATH] | plug-other | unplug-after-blocks N | swap-esc SCENARIO | free-unit
// each doing what the dialog's simulated build does for the same command
// (sim/sim_control.h), its arrival or removal delivered as udev's would be.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "app/dialog_phase.h"
#include "cli/posix/cli_platform_posix.h"
#include "cli/terminal_text.h"
#include "link/posix/clock_posix.h"
#include "link/posix/last_error_posix.h"
#include "sim/sim_bus_control.h"
#include "update/firmware_update.h"

namespace {

constexpr const char* CONTROL_VARIABLE = "ORVANTA_SIM_CONTROL";

class SimCliPlatform : public PosixCliPlatform {
public:
    SimCliPlatform(SimHidHost& bus, Clock& clock)
        : PosixCliPlatform("orvanta-updater-sim"),
          control_(bus, clock, [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); },
                   [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); }) {}

    bool StartWatching() override {
        const char* path = std::getenv(CONTROL_VARIABLE);
        if (path != nullptr && *path != '\0') {
            // Read and write, so that the pipe stays open between the driver's writes.
            pipe_ = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
            return pipe_ >= 0;
        }
        return true;  // nothing will ever change the bus
    }

    Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) override {
        while (changes_.empty()) {
            const Wait waited = TakeCommand(timeoutMs);
            if (waited != Wait::Change) {
                return waited;
            }
        }
        change = changes_.front();
        changes_.pop_front();
        return Wait::Change;
    }

private:
    void Queue(std::uintptr_t event, const std::wstring& path) { changes_.push_back({event, path}); }

    // Waits for one line on the pipe (for at most timeoutMs when that is not negative) and
    // carries it out; Failed when the pipe fails.
    Wait TakeCommand(std::int32_t timeoutMs) {
        for (;;) {
            const std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                const std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                Run(line);
                return Wait::Change;
            }
            pollfd entry{pipe_, POLLIN, 0};
            const int ready = poll(&entry, pipe_ >= 0 ? 1 : 0, timeoutMs);
            if (ready < 0 && errno != EINTR) {
                return Wait::Failed;
            }
            if (ready == 0) {
                return Wait::TimedOut;
            }
            char buffer[256];
            const ssize_t got = pipe_ >= 0 ? read(pipe_, buffer, sizeof buffer) : 0;
            if (got > 0) {
                pending_.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }

    void Run(const std::string& line) {
        const std::size_t blank = line.find(' ');
        const std::string verb = line.substr(0, blank);
        const std::wstring argument = blank == std::string::npos ? L"" : WideFromUtf8(line.substr(blank + 1));
        const std::optional<std::uint32_t> command =
            verb == "plug" ? SIM_PLUG_SCENARIO
            : verb == "unplug" ? SIM_UNPLUG
            : verb == "plug-other" ? SIM_PLUG_OTHER
            : verb == "unplug-after-blocks" ? std::optional<std::uint32_t>(SIM_UNPLUG_AFTER_BLOCKS)
            : verb == "swap-esc"            ? std::optional<std::uint32_t>(SIM_SWAP_ESC)
            : verb == "free-unit"           ? std::optional<std::uint32_t>(SIM_FREE_UNIT)
                                            : std::nullopt;
        if (!command || !control_.Run(*command, argument)) {
            std::fprintf(stderr, "simulated bus: command not understood: %s\n", line.c_str());
        }
    }

    SimBusControl control_;
    std::deque<DeviceChange> changes_;
    int pipe_ = -1;
    std::string pending_;
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
