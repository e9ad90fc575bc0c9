#include "link/win32/hid_host_win32.h"

#include <windows.h>

#include <setupapi.h>

// mingw-w64's HID headers declare C functions without C linkage.
extern "C" {
#include <hidsdi.h>  // brings hidpi.h
}

#include <memory>

#include "link/win32/window_wait_win32.h"

struct HidInterfaceList {
    HDEVINFO info;
    GUID hidGuid;
};

namespace {

HANDLE AsHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool EnumInterface(HidInterfaceList* list, std::uint32_t index, SP_DEVICE_INTERFACE_DATA& data) {
    data.cbSize = sizeof(data);
    return SetupDiEnumDeviceInterfaces(list->info, nullptr, &list->hidGuid, index, &data) != FALSE;
}

// One overlapped transfer that ends within timeoutMs. A transfer that has not ended by
// then is cancelled, and the cancellation is waited for, so the caller's buffer is no
// longer the device's when this returns.
bool Transfer(DeviceHandle handle, bool write, std::uint8_t* buffer, std::uint32_t length,
              std::uint32_t timeoutMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return false;
    }
    const HANDLE file = AsHandle(handle);
    BOOL ok = write ? WriteFile(file, buffer, length, nullptr, &overlapped)
                    : ReadFile(file, buffer, length, nullptr, &overlapped);
    if (ok || GetLastError() == ERROR_IO_PENDING) {
        DWORD transferred = 0;
        // The window stays alive for as long as a silent unit takes to time out.
        if (WaitServicingWindows(overlapped.hEvent, timeoutMs) == WAIT_OBJECT_0) {
            ok = GetOverlappedResult(file, &overlapped, &transferred, FALSE);
        } else {
            CancelIoEx(file, &overlapped);
            GetOverlappedResult(file, &overlapped, &transferred, TRUE);
            SetLastError(ERROR_TIMEOUT);  // what the failure box shows, rather than "aborted"
            ok = FALSE;
        }
    }
    const DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    // The last error describes this transfer alone: a completed one leaves none behind.
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok != FALSE;
}

}  // namespace

HidInterfaceList* Win32HidHost::GetInterfaceList() {
    auto list = std::make_unique<HidInterfaceList>();
    HidD_GetHidGuid(&list->hidGuid);
    list->info = SetupDiGetClassDevsW(&list->hidGuid, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list->info == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return list.release();
}

bool Win32HidHost::HasInterface(HidInterfaceList* list, std::uint32_t index) {
    SP_DEVICE_INTERFACE_DATA data;
    return EnumInterface(list, index, data);
}

bool Win32HidHost::GetInterfacePath(HidInterfaceList* list, std::uint32_t index,
                                    std::wstring& path) {
    SP_DEVICE_INTERFACE_DATA data;
    if (!EnumInterface(list, index, data)) {
        return false;
    }
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list->info, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return false;
    }
    // Held as DWORDs so that the detail record is aligned.
    auto buffer = std::make_unique<DWORD[]>((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list->info, &data, detail, size, nullptr, nullptr)) {
        return false;
    }
    path = detail->DevicePath;
    return true;
}

void Win32HidHost::DestroyInterfaceList(HidInterfaceList* list) {
    SetupDiDestroyDeviceInfoList(list->info);
    delete list;
}

DeviceHandle Win32HidHost::Open(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    return reinterpret_cast<DeviceHandle>(file);  // INVALID_HANDLE_VALUE is NO_DEVICE_HANDLE
}

bool Win32HidHost::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    HIDD_ATTRIBUTES hid{};
    static_assert(sizeof(hid) == 12);
    hid.Size = sizeof(hid);
    if (!HidD_GetAttributes(AsHandle(handle), &hid)) {
        return false;
    }
    attributes.vendorId = hid.VendorID;
    attributes.productId = hid.ProductID;
    return true;
}

bool Win32HidHost::GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(AsHandle(handle), &preparsed)) {
        return false;
    }
    HIDP_CAPS caps{};
    const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
    HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
        return false;
    }
    lengths.outputReportByteLength = caps.OutputReportByteLength;
    lengths.inputReportByteLength = caps.InputReportByteLength;
    return true;
}

bool Win32HidHost::Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
                         std::uint32_t timeoutMs) {
    // WriteFile takes the buffer as const; the cast only shares the transfer code.
    return Transfer(handle, true, const_cast<std::uint8_t*>(report), length, timeoutMs);
}

bool Win32HidHost::Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                        std::uint32_t timeoutMs) {
    return Transfer(handle, false, report, length, timeoutMs);
}

void Win32HidHost::Close(DeviceHandle handle) {
    CloseHandle(AsHandle(handle));
}
