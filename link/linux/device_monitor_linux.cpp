#include "link/linux/device_monitor_linux.h"

#include <libudev.h>

#include <cstring>

#include "link/ascii_path.h"

LinuxDeviceMonitor::LinuxDeviceMonitor() : udev_(udev_new()) {
    if (udev_ == nullptr) {
        return;
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_) < 0)) {
        monitor_ = udev_monitor_unref(monitor_);
    }
}

LinuxDeviceMonitor::~LinuxDeviceMonitor() {
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
}

int LinuxDeviceMonitor::WaitDescriptor() {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

bool LinuxDeviceMonitor::ReadEvent(DeviceEvent& event) {
    if (monitor_ == nullptr) {
        return false;
    }
    // The monitor's socket does not block: null once nothing is waiting.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(device);
        const bool arrival = action != nullptr && std::strcmp(action, "add") == 0;
        const bool removal = action != nullptr && std::strcmp(action, "remove") == 0;
        std::wstring path;
        const bool named = WidenAsciiPath(udev_device_get_devnode(device), path);
        udev_device_unref(device);
        if ((arrival || removal) && named) {
            event.kind = arrival ? DeviceEventKind::Arrival : DeviceEventKind::Removal;
            event.path = std::move(path);
            return true;
        }
    }
    return false;
}
