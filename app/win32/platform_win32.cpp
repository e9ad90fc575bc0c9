// The product's platform: the HID devices of the system and the Windows clock.
#include "app/platform.h"

#include "link/win32/clock_win32.h"
#include "link/win32/hid_host_win32.h"

void InstallPlatform() {
    static Win32HidHost host;
    static Win32Clock clock;
    hidHost = &host;
    systemClock = &clock;
}

void RemovePlatform() {
    hidHost = nullptr;
    systemClock = nullptr;
}

const wchar_t* InstanceName() {
    return PRODUCT_INSTANCE_NAME;
}
