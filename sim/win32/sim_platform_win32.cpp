// The simulated build's platform: a simulated bus in place of the system's HID devices,
// loaded with the scenario ORVANTA_SIM names, and a hidden control window through which a
// driver plugs and unplugs devices while the program runs (sim/sim_control.h).
// The project's headers come first: windows.h defines some of their names as macros.
#include "app/dialog_ops.h"
#include "app/platform.h"
#include "sim/sim_bus_control.h"
#include "link/win32/clock_win32.h"
#include "sim/sim_control.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"

#include <windows.h>

#include <dbt.h>

// mingw-w64's HID headers declare C functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "app/win32/app_win32.h"
#include "sim/win32/sim_control_win32.h"

// The simulated bus leaves the platform's error values behind, as a real device would.
static_assert(SIM_LAST_ERROR_INVALID_HANDLE == ERROR_INVALID_HANDLE);
static_assert(SIM_LAST_ERROR_GEN_FAILURE == ERROR_GEN_FAILURE);
static_assert(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED == ERROR_DEVICE_NOT_CONNECTED);
static_assert(SIM_LAST_ERROR_TIMEOUT == ERROR_TIMEOUT);

namespace {

// The unit's reply delays wait on the dialog's clock, as a read of a real unit waits:
// the window stays alive, and a driver's commands arrive in the middle of a transfer.
std::optional<Win32Clock> dialogClock;
std::optional<SimHidHost> bus;
std::optional<SimBusControl> control;
HWND controlWindow = nullptr;

// A device-interface broadcast for path, as Windows passes it with WM_DEVICECHANGE.
std::vector<std::uint8_t> Broadcast(const std::wstring& path) {
    const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                             (path.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint8_t> bytes(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)));
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&record->dbcc_classguid);
    std::copy(path.begin(), path.end(), record->dbcc_name);
    record->dbcc_name[path.size()] = L'\0';
    return bytes;
}

void DeliverNow(std::uintptr_t event, const std::wstring& path) {
    std::vector<std::uint8_t> broadcast = Broadcast(path);
    SendMessageW(reinterpret_cast<HWND>(mainWindow), WM_DEVICECHANGE, event,
                 reinterpret_cast<LPARAM>(broadcast.data()));
}

struct PendingRemoval {
    HWND dialog;
    std::vector<std::uint8_t> broadcast;
};

DWORD WINAPI SendRemoval(void* parameter) {
    std::unique_ptr<PendingRemoval> removal(static_cast<PendingRemoval*>(parameter));
    SendMessageW(removal->dialog, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                 reinterpret_cast<LPARAM>(removal->broadcast.data()));
    return 0;
}

// Sent from another thread, as the system sends it: the dialog's thread takes it at
// its next wait or message loop, never inside the write that found the unit gone.
void DeliverLater(std::uintptr_t, const std::wstring& path) {
    auto* removal = new PendingRemoval{reinterpret_cast<HWND>(mainWindow), Broadcast(path)};
    HANDLE thread = CreateThread(nullptr, 0, SendRemoval, removal, 0, nullptr);
    if (thread == nullptr) {
        delete removal;
        return;
    }
    CloseHandle(thread);
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return RunCopiedCommand(*control, lParam);
}

}  // namespace

void InstallPlatform() {
    dialogClock.emplace();
    systemClock = &*dialogClock;
    bus.emplace(*dialogClock);
    bus->setLastError = [](std::uint32_t error) { SetLastError(error); };
    hidHost = &*bus;
    // The simulated unit may take the build's placeholder images.
    placeholderImagesAllowed = true;

    const std::string scenario = SimScenarioFromEnvironment(_wgetenv(SIM_SCENARIO_VARIABLE));
    if (!LoadSimScenario(scenario, *bus)) {
        std::fprintf(stderr, "unknown %ls scenario \"%s\": starting with no device\n",
                     SIM_SCENARIO_VARIABLE, scenario.c_str());
    }
    control.emplace(*bus, *dialogClock, DeliverNow, DeliverLater);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ControlWindowProc;
    windowClass.hInstance = appInstance;
    windowClass.lpszClassName = SIM_CONTROL_CLASS;
    RegisterClassW(&windowClass);
    // Top-level (not message-only) so that FindWindowW finds it; never shown.
    controlWindow = CreateWindowExW(0, SIM_CONTROL_CLASS, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    appInstance, nullptr);
}

void RemovePlatform() {
    DestroyWindow(controlWindow);
    controlWindow = nullptr;
    control.reset();
    hidHost = nullptr;
    systemClock = nullptr;
    bus.reset();
    dialogClock.reset();
}

const wchar_t* InstanceName() {
    return SIMULATED_INSTANCE_NAME;
}
