// The HID host seam over SetupAPI, the HID library and the file functions.
#pragma once

#include "link/hid_host.h"

class Win32HidHost : public HidHost {
public:
    HidInterfaceList* GetInterfaceList() override;
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override;
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override;
    void DestroyInterfaceList(HidInterfaceList* list) override;
    // Opened for overlapped input and output, so that every wait has a bound.
    DeviceHandle Open(const std::wstring& path) override;
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
    bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) override;
    bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
               std::uint32_t timeoutMs) override;
    bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
              std::uint32_t timeoutMs) override;
    void Close(DeviceHandle handle) override;
};
