#include "sim/sim_bus_control.h"

#include <algorithm>

#include "app/status_flow.h"

namespace {

// Scenario names are ASCII; anything else cannot name one.
bool NarrowAscii(const std::wstring& wide, std::string& narrow) {
    narrow.clear();
    for (const wchar_t c : wide) {
        if (c <= 0 || c > 0x7F) {
            return false;
        }
        narrow.push_back(static_cast<char>(c));
    }
    return true;
}

bool HasPath(const std::vector<std::wstring>& paths, const std::wstring& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

}  // namespace

std::string SimScenarioFromEnvironment(const wchar_t* value) {
    if (value == nullptr || *value == L'\0') {
        return DEFAULT_SIM_SCENARIO;
    }
    std::string name;
    if (!NarrowAscii(value, name)) {
        name.clear();  // names no scenario
    }
    return name;
}

SimBusControl::SimBusControl(SimHidHost& bus, Clock& scratchClock, Deliver deliverNow,
                             Deliver deliverLater)
    : bus_(bus),
      scratchClock_(scratchClock),
      deliverNow_(std::move(deliverNow)),
      deliverLater_(std::move(deliverLater)) {
    bus_.onUnplug = [this](const std::wstring& path) {
        if (!unplugging_) {
            deliverLater_(DBT_EVENT_DEVICE_REMOVE_COMPLETE, path);
        }
    };
}

SimBusControl::~SimBusControl() {
    bus_.onUnplug = nullptr;
}

bool SimBusControl::Run(std::uint32_t command, const std::wstring& argument) {
    switch (command) {
    case SIM_PLUG_SCENARIO:
        return PlugScenario(argument);
    case SIM_UNPLUG:
        return Unplug(argument);
    case SIM_PLUG_OTHER:
        return PlugOther(argument);
    case SIM_UNPLUG_AFTER_BLOCKS:
        return UnplugAfterBlocks(argument);
    case SIM_SWAP_ESC:
        return SwapEsc(argument);
    case SIM_FREE_UNIT:
        return FreeUnit();
    default:
        return false;
    }
}

bool SimBusControl::PlugScenario(const std::wstring& name) {
    std::string scenario;
    if (!NarrowAscii(name, scenario)) {
        return false;
    }
    const std::vector<std::wstring> present = bus_.Paths();
    // The first instance whose paths are all free: a second unit of the same kind gets
    // a path of its own, as a second device would.
    for (unsigned instance = 0;; ++instance) {
        SimHidHost trial(scratchClock_);
        if (!LoadSimScenario(scenario, trial, instance)) {
            return false;
        }
        const std::vector<std::wstring> added = trial.Paths();
        if (std::none_of(added.begin(), added.end(),
                         [&](const std::wstring& path) { return HasPath(present, path); })) {
            LoadSimScenario(scenario, bus_, instance);
            for (const std::wstring& path : added) {
                deliverNow_(DBT_EVENT_DEVICE_ARRIVAL, path);
            }
            return true;
        }
    }
}

bool SimBusControl::Unplug(const std::wstring& argument) {
    std::wstring name = argument;
    if (name.empty() && bus_.FirstUnit(&name) == nullptr) {
        return false;  // no unit to unplug
    }
    // The device whose path matches as Windows paths do (ASCII case aside); the removal
    // carries the name as given, so a driver can also announce a device not on the bus.
    for (const std::wstring& path : bus_.Paths()) {
        if (SameDevicePath(path.c_str(), name.c_str())) {
            unplugging_ = true;
            bus_.Unplug(path);
            unplugging_ = false;
            break;
        }
    }
    deliverNow_(DBT_EVENT_DEVICE_REMOVE_COMPLETE, name);
    return true;
}

bool SimBusControl::PlugOther(const std::wstring& argument) {
    std::wstring path = argument;
    if (path.empty()) {
        path = L"\\\\?\\hid#vid_046d&pid_c31c&mi_00#8&2f6a1c3e&0&" + std::to_wstring(otherDevices_++) +
               L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    }
    if (HasPath(bus_.Paths(), path)) {
        return false;
    }
    bus_.PlugOther(path, SIM_OTHER_VENDOR_ID, SIM_OTHER_PRODUCT_ID);
    deliverNow_(DBT_EVENT_DEVICE_ARRIVAL, path);
    return true;
}

bool SimBusControl::UnplugAfterBlocks(const std::wstring& argument) {
    if (argument.empty() || argument.size() > 9 ||
        !std::all_of(argument.begin(), argument.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return false;
    }
    SimulatedUnit* unit = bus_.FirstUnit();
    if (unit == nullptr) {
        return false;
    }
    std::uint32_t blocks = 0;
    for (const wchar_t digit : argument) {
        blocks = blocks * 10 + static_cast<std::uint32_t>(digit - L'0');
    }
    unit->unplugAtBlock = unit->commandCount[CMD_WRITE_BLOCK] + blocks;
    return true;
}

bool SimBusControl::SwapEsc(const std::wstring& name) {
    std::string scenario;
    SimulatedUnit* unit = bus_.FirstUnit();
    if (!NarrowAscii(name, scenario) || unit == nullptr) {
        return false;
    }
    // The scenario's unit on a bus of its own: only its ESC is taken.
    SimHidHost trial(scratchClock_);
    if (!LoadSimScenario(scenario, trial) || trial.FirstUnit() == nullptr) {
        return false;
    }
    unit->ConnectEsc(trial.FirstUnit()->config);
    return true;
}

bool SimBusControl::FreeUnit() {
    std::wstring path;
    if (bus_.FirstUnit(&path) == nullptr) {
        return false;
    }
    const auto held = std::find(bus_.held.begin(), bus_.held.end(), path);
    if (held == bus_.held.end()) {
        return false;
    }
    bus_.held.erase(held);
    return true;
}
