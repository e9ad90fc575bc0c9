// orvanta-cli.exe: the terminal program over the system's HID devices and the Windows clock.
#include "app/platform.h"
#include "cli/win32/cli_platform_win32.h"
#include "link/win32/clock_win32.h"
#include "link/win32/hid_host_win32.h"

int wmain(int argc, wchar_t** argv) {
    static Win32HidHost host;
    static Win32Clock clock;
    hidHost = &host;
    systemClock = &clock;
    static Win32CliPlatform platform(PRODUCT_INSTANCE_NAME);
    return RunCli(ArgumentsOf(argc, argv), platform);
}
