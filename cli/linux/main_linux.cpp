// orvanta-cli on Linux: the hidraw devices, the udev monitor, the native clock.
#include <optional>

#include "cli/posix/cli_platform_posix.h"
#include "link/linux/device_monitor_linux.h"
#include "link/linux/hid_host_linux.h"
#include "link/posix/clock_posix.h"

namespace {

class LinuxCliPlatform : public PosixCliPlatform {
public:
    LinuxCliPlatform() : PosixCliPlatform("orvanta-updater") {}

    bool StartWatching() override {
        monitor_.emplace();
        return monitor_->WaitDescriptor() >= 0;
    }
    Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) override {
        return WaitForEvent(*monitor_, change, timeoutMs);
    }

private:
    std::optional<LinuxDeviceMonitor> monitor_;
};

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    static LinuxHidHost host;
    static PosixClock clock;
    hidHost = &host;
    systemClock = &clock;
    static LinuxCliPlatform platform;
    return RunCli(ArgumentsOf(argc, argv), platform);
}
