// The simulated bus steered from outside while a program runs, through the named pipe
// ORVANTA_SIM_CONTROL names; one command a line:
//   plug SCENARIO | unplug [PATH] | plug-other | unplug-after-blocks N | swap-esc SCENARIO | free-unit
// each doing what the dialog's simulated build on Windows does for the same command
// (sim/sim_control.h). The arrivals and removals a command causes come out as device
// events, as udev's would.
#pragma once

#include <deque>
#include <string>

#include "link/clock.h"
#include "link/device_events.h"
#include "sim/sim_bus_control.h"

constexpr const char* SIM_CONTROL_VARIABLE = "ORVANTA_SIM_CONTROL";

// A simulated build's start on POSIX systems: the bus's last errors as errno, the bus and
// clock installed as the program's, placeholder images allowed, and the scenario the
// environment's ORVANTA_SIM names loaded (an unknown one is said on stderr).
void InstallSimulatedBus(SimHidHost& bus, Clock& clock);

class SimControlPipe : public DeviceEventSource {
public:
    SimControlPipe(SimHidHost& bus, Clock& clock);
    ~SimControlPipe() override;
    SimControlPipe(const SimControlPipe&) = delete;
    SimControlPipe& operator=(const SimControlPipe&) = delete;

    // Opens the pipe the environment names (without one, nothing will ever change the
    // bus); false when it cannot be opened.
    bool Open();
    // Readable when a command came or a change waits.
    int WaitDescriptor() override;
    // Carries out the commands that came, then hands out the changes in order.
    bool ReadEvent(DeviceEvent& event) override;

private:
    void Queue(std::uintptr_t event, const std::wstring& path);
    void Run(const std::string& line);

    SimBusControl control_;
    std::deque<DeviceEvent> changes_;
    int read_ = -1;
    int wake_ = -1;  // written to when a change comes from the bus itself
    std::string pending_;
};
