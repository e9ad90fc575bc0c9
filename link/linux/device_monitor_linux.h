// Arrivals and removals of hidraw devices from a udev monitor. The monitor listens to
// udev rather than to the kernel, so an arrival comes once udev has applied its rules
// (the access the udev rule grants included).
#pragma once

#include "link/device_events.h"

struct udev;
struct udev_monitor;

class LinuxDeviceMonitor : public DeviceEventSource {
public:
    LinuxDeviceMonitor();
    ~LinuxDeviceMonitor() override;
    LinuxDeviceMonitor(const LinuxDeviceMonitor&) = delete;
    LinuxDeviceMonitor& operator=(const LinuxDeviceMonitor&) = delete;

    int WaitDescriptor() override;
    // The device node is the path, as the host lists it; other actions are passed over.
    bool ReadEvent(DeviceEvent& event) override;

private:
    udev* udev_;
    udev_monitor* monitor_ = nullptr;
};
