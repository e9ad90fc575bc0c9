// The seam to the platform's HID devices. Each operation is one platform call (or the
// fixed pair of calls that belongs together); every decision is made by the callers.
#pragma once

#include <cstdint>
#include <string>

#include "link/reports.h"

struct HidInterfaceList;  // a platform enumeration list, opaque to the link

struct HidAttributes {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

struct HidReportLengths {
    std::uint16_t outputReportByteLength;  // report id byte included
    std::uint16_t inputReportByteLength;
};

class HidHost {
public:
    virtual ~HidHost() = default;

    // The HID interfaces present now, in the platform's order; null when the list
    // cannot be obtained.
    virtual HidInterfaceList* GetInterfaceList() = 0;
    // True while index is inside the list.
    virtual bool HasInterface(HidInterfaceList* list, std::uint32_t index) = 0;
    // The device path of the interface at index; false when it cannot be read.
    virtual bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) = 0;
    virtual void DestroyInterfaceList(HidInterfaceList* list) = 0;
    // The ids of the interface at index as the list gives them, without opening it; false
    // where the list has none (Windows gives them for an open device only).
    virtual bool GetListedAttributes(HidInterfaceList* /*list*/, std::uint32_t /*index*/,
                                     HidAttributes& /*attributes*/) {
        return false;
    }

    // Opens a device for reading and writing, shared; NO_DEVICE_HANDLE on failure.
    virtual DeviceHandle Open(const std::wstring& path) = 0;
    // True when the last Open that failed was refused for want of permission: the device
    // is there, but this user may not open it. False after any other failure, and where
    // the platform cannot tell.
    virtual bool LastOpenDenied() { return false; }
    // True when the last Open that failed found the device held by another program (on
    // Linux, a hidraw node another descriptor has locked). False after any other failure.
    virtual bool LastOpenBusy() { return false; }
    virtual bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) = 0;
    // The longest output and input report in bytes, report id byte included, as the
    // platform gives them (Windows: the capabilities from the preparsed data; Linux: the
    // device's report descriptor); false when they cannot be had.
    virtual bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) = 0;
    // Writes one output report of length bytes; false on failure or when it has not
    // completed within timeoutMs.
    virtual bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
                       std::uint32_t timeoutMs) = 0;
    // Reads one input report of up to length bytes into report; false on failure or
    // when none has arrived within timeoutMs.
    virtual bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                      std::uint32_t timeoutMs) = 0;
    virtual void Close(DeviceHandle handle) = 0;
};

// The host the link uses; set by the program's entry (or a test) before any link call.
extern HidHost* hidHost;
