// How a test driver or the demo steers the simulated build from outside while it runs.
// orvanta-updater-sim.exe keeps a hidden top-level window of class SIM_CONTROL_CLASS;
// a WM_COPYDATA sent to it carries one command (dwData) and a UTF-16 argument
// (lpData, cbData bytes, no terminator needed). Each command changes the simulated bus
// and then delivers to the main dialog the same WM_DEVICECHANGE that Windows sends.
#pragma once

#include <cstdint>

// Window class of the control window (wide string).
#define SIM_CONTROL_CLASS L"OrvantaSimControl"

// Environment variable naming the scenario the simulated build starts with.
#define SIM_SCENARIO_VARIABLE L"ORVANTA_SIM"

enum SimControlCommand : std::uint32_t {
    // Plug in the unit of the scenario named by the argument (a path of its own is
    // chosen when one of the same path is present); arrival notification follows.
    SIM_PLUG_SCENARIO = 1,
    // Unplug the device whose path is the argument, or the first unit when the argument
    // is empty; removal notification (with the device's path) follows.
    SIM_UNPLUG = 2,
    // Plug a HID device that is not a unit (a keyboard, say); arrival follows.
    SIM_PLUG_OTHER = 3,
    // Arm an unplug of the first unit after the given number (decimal text) of further
    // CMD_WRITE_BLOCK requests; the removal is delivered as a sent message during the
    // update's next wait.
    SIM_UNPLUG_AFTER_BLOCKS = 4,
    // Connect the ESC of the scenario named by the argument to the first unit in place of
    // its own, as a user swapping ESCs on the unit's cable; nothing is delivered, for
    // nothing happens on the USB bus.
    SIM_SWAP_ESC = 5,
    // The program that held the first unit open (the in-use scenario) lets it go; no
    // event follows, as none comes from the system.
    SIM_FREE_UNIT = 6,
};
