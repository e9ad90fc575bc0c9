#include "sim/posix/sim_control_pipe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

#include "app/status_flow.h"
#include "link/posix/last_error_posix.h"
#include "update/firmware_update.h"

void InstallSimulatedBus(SimHidHost& bus, Clock& clock) {
    bus.setLastError = [](std::uint32_t error) { SetPosixLastError(static_cast<int>(error)); };
    hidHost = &bus;
    systemClock = &clock;
    placeholderImagesAllowed = true;  // the simulated unit may take the build's images
    const char* value = std::getenv("ORVANTA_SIM");
    // Scenario names are ASCII.
    const std::wstring wide = value != nullptr ? std::wstring(value, value + std::strlen(value)) : std::wstring();
    const std::string scenario = SimScenarioFromEnvironment(value != nullptr ? wide.c_str() : nullptr);
    if (!LoadSimScenario(scenario, bus)) {
        std::fprintf(stderr, "unknown ORVANTA_SIM scenario \"%s\": starting with no device\n", scenario.c_str());
    }
}

SimControlPipe::SimControlPipe(SimHidHost& bus, Clock& clock)
    : control_(bus, clock, [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); },
               [this](std::uintptr_t event, const std::wstring& path) { Queue(event, path); }) {}

SimControlPipe::~SimControlPipe() {
    if (wake_ >= 0 && wake_ != read_) {
        close(wake_);
    }
    if (read_ >= 0) {
        close(read_);
    }
}

bool SimControlPipe::Open() {
    const char* path = std::getenv(SIM_CONTROL_VARIABLE);
    if (path != nullptr && *path != '\0') {
        // Read and write, so that the pipe stays open between the driver's writes, and
        // the program can wake its own reader.
        read_ = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        wake_ = read_;
        return read_ >= 0;
    }
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    read_ = ends[0];
    wake_ = ends[1];
    return true;
}

int SimControlPipe::WaitDescriptor() {
    return read_;
}

void SimControlPipe::Queue(std::uintptr_t event, const std::wstring& path) {
    changes_.push_back(
        {event == DBT_EVENT_DEVICE_ARRIVAL ? DeviceEventKind::Arrival : DeviceEventKind::Removal, path});
    // An empty line: the reader looks again, and finds the change.
    if (wake_ >= 0) {
        const char newline = '\n';
        [[maybe_unused]] const ssize_t written = write(wake_, &newline, 1);
    }
}

bool SimControlPipe::ReadEvent(DeviceEvent& event) {
    char buffer[256];
    ssize_t got;
    while (read_ >= 0 && (got = read(read_, buffer, sizeof buffer)) > 0) {
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty()) {
            Run(line);
        }
    }
    if (changes_.empty()) {
        return false;
    }
    event = changes_.front();
    changes_.pop_front();
    return true;
}

void SimControlPipe::Run(const std::string& line) {
    const std::size_t blank = line.find(' ');
    const std::string verb = line.substr(0, blank);
    // Scenario names, block counts and the simulated paths are ASCII.
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    const std::wstring argument(rest.begin(), rest.end());
    const std::optional<std::uint32_t> command =
        verb == "plug"                  ? std::optional<std::uint32_t>(SIM_PLUG_SCENARIO)
        : verb == "unplug"              ? std::optional<std::uint32_t>(SIM_UNPLUG)
        : verb == "plug-other"          ? std::optional<std::uint32_t>(SIM_PLUG_OTHER)
        : verb == "unplug-after-blocks" ? std::optional<std::uint32_t>(SIM_UNPLUG_AFTER_BLOCKS)
        : verb == "swap-esc"            ? std::optional<std::uint32_t>(SIM_SWAP_ESC)
        : verb == "free-unit"           ? std::optional<std::uint32_t>(SIM_FREE_UNIT)
                                        : std::nullopt;
    if (!command || !control_.Run(*command, argument)) {
        std::fprintf(stderr, "simulated bus: command not understood: %s\n", line.c_str());
    }
}
