// The simulated build's bus under outside control: carries out the commands of
// sim/sim_control.h on a SimHidHost and reports every device change it causes, as
// Windows would, to whoever delivers it to the main dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/clock.h"
#include "sim/sim_control.h"
#include "sim/sim_unit.h"

constexpr const char* DEFAULT_SIM_SCENARIO = "ready";
constexpr std::uint16_t SIM_OTHER_VENDOR_ID = 0x046D;   // a keyboard's
constexpr std::uint16_t SIM_OTHER_PRODUCT_ID = 0xC31C;

// The scenario named by the environment variable's value: "ready" when unset or empty.
std::string SimScenarioFromEnvironment(const wchar_t* value);

class SimBusControl {
public:
    // event is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE, path the interface name.
    using Deliver = std::function<void(std::uintptr_t event, const std::wstring& path)>;

    // deliverNow runs within the command; deliverLater gets the removal of a unit that
    // dropped off during a report write, which must reach the dialog outside that write.
    // scratchClock serves the trial buses used to choose free paths.
    SimBusControl(SimHidHost& bus, Clock& scratchClock, Deliver deliverNow, Deliver deliverLater);
    ~SimBusControl();
    SimBusControl(const SimBusControl&) = delete;
    SimBusControl& operator=(const SimBusControl&) = delete;

    // One SimControlCommand with its argument; false for an unknown command or an
    // argument it cannot use (then nothing changed and nothing is delivered).
    bool Run(std::uint32_t command, const std::wstring& argument);

private:
    bool PlugScenario(const std::wstring& name);
    bool Unplug(const std::wstring& argument);
    bool PlugOther(const std::wstring& argument);
    bool UnplugAfterBlocks(const std::wstring& argument);
    bool SwapEsc(const std::wstring& name);
    bool FreeUnit();

    SimHidHost& bus_;
    Clock& scratchClock_;
    Deliver deliverNow_;
    Deliver deliverLater_;
    bool unplugging_ = false;  // an Unplug command delivers its own removal
    unsigned otherDevices_ = 0;
};
