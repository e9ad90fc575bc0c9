// orvanta-updater on Linux: the dialog in a Qt window over the hidraw devices and the udev
// monitor; every wait for the unit keeps the window alive.
#include "app/qt/qt_program.h"
#include "app/qt/qt_waits.h"
#include "link/clock.h"
#include "link/hid_host.h"
#include "link/linux/device_monitor_linux.h"
#include "link/linux/hid_host_linux.h"

int main(int argc, char** argv) {
    static LinuxHidHost host;
    host.SetPoll(PollServicingWindows);
    static QtClock clock;
    hidHost = &host;
    systemClock = &clock;
    LinuxDeviceMonitor monitor;
    return RunQtProgram(argc, argv, "orvanta-updater", monitor);
}
