// Hot-plug events from the udev monitor, as umockdev's test bed announces devices.
#include <poll.h>

#include <thread>

#include "link/device_session.h"
#include "link/link.h"
#include "link/linux/device_monitor_linux.h"
#include "link/linux/hid_host_linux.h"
#include "tests/linux/mock_devices.h"

namespace {

const MockHid BOX{4, UNIT_VENDOR_ID, PRODUCT_TUNE_BOX, UNIT_DESCRIPTOR};

// The next event, waiting for it on the monitor's descriptor up to waitMs.
bool NextEvent(DeviceEventSource& source, DeviceEvent& event, int waitMs = 5000) {
    if (source.ReadEvent(event)) {
        return true;
    }
    pollfd ready{source.WaitDescriptor(), POLLIN, 0};
    return poll(&ready, 1, waitMs) > 0 && source.ReadEvent(event);
}

TEST(LinuxDeviceMonitorTest, AnnouncesArrivalAndRemovalOfHidrawNodesOnly) {
    MockDevices devices;
    LinuxDeviceMonitor monitor;
    ASSERT_GE(monitor.WaitDescriptor(), 0);

    // The USB device, its interface and the HID device arrive as well; only the hidraw
    // node is announced.
    const std::string syspath = devices.Add(BOX);
    DeviceEvent event{DeviceEventKind::Removal, L""};
    ASSERT_TRUE(NextEvent(monitor, event));
    EXPECT_EQ(event.kind, DeviceEventKind::Arrival);
    EXPECT_EQ(event.path, L"/dev/hidraw4");

    // A change is neither.
    devices.Event(syspath, "change");
    devices.Remove(syspath);
    ASSERT_TRUE(NextEvent(monitor, event));
    EXPECT_EQ(event.kind, DeviceEventKind::Removal);
    EXPECT_EQ(event.path, L"/dev/hidraw4");
    EXPECT_FALSE(NextEvent(monitor, event, 200));
}

TEST(LinuxDeviceMonitorTest, ARemovalNamesTheOpenUnitAsDiscoveryHoldsIt) {
    MockDevices devices;
    LinuxHidHost host;
    hidHost = &host;
    const std::string syspath = devices.Add(BOX);
    LinuxDeviceMonitor monitor;

    // The identification fails at once when the unit is pulled; the unit stays held.
    std::thread unit([&] {
        EXPECT_EQ(devices.TakeWritten(BOX.number, REPORT_SIZE).size(), REPORT_SIZE);
        devices.HangUp(BOX.number);
    });
    EXPECT_EQ(OpenUnit(deviceSession), LINK_READ_FAILED);
    unit.join();
    ASSERT_NE(deviceSession.devicePath, nullptr);

    devices.Remove(syspath);
    DeviceEvent event{DeviceEventKind::Arrival, L""};
    ASSERT_TRUE(NextEvent(monitor, event));
    EXPECT_EQ(event.kind, DeviceEventKind::Removal);
    EXPECT_EQ(event.path, std::wstring(deviceSession.devicePath.get()));
    deviceSession.Reset();
    hidHost = nullptr;
}

}  // namespace
