// A record of every exchange with the programming unit, for a support request: the HID
// host of the platform with each call written to a file, with its time.
#pragma once

#include <cstdint>
#include <string>

#include "cli/output_queue.h"
#include "link/clock.h"
#include "link/hid_host.h"

class LoggingHidHost : public HidHost {
public:
    // Lines go to log, whose writing thread (once started) keeps a slow or stopped file
    // from holding up the exchanges. restoreLastError puts the platform's last error back
    // after a line is made, so that the log never changes what the link reports.
    LoggingHidHost(HidHost& inner, OutputQueue& log, Clock& clock, void (*restoreLastError)(std::uint32_t));

    HidInterfaceList* GetInterfaceList() override;
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override;
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override;
    void DestroyInterfaceList(HidInterfaceList* list) override;
    bool GetListedAttributes(HidInterfaceList* list, std::uint32_t index, HidAttributes& attributes) override;
    DeviceHandle Open(const std::wstring& path) override;
    bool LastOpenDenied() override;
    bool LastOpenBusy() override;
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
    bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) override;
    bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) override;
    bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) override;
    void Close(DeviceHandle handle) override;

private:
    // Takes the last error of the call just made, before anything can change it.
    void Keep();
    // One line: seconds since the log began, then text; puts the kept error back.
    void Line(const std::string& text, bool failed);

    HidHost& inner_;
    OutputQueue& log_;
    Clock& clock_;
    void (*restoreLastError_)(std::uint32_t);
    std::uint64_t startMicros_;
    std::uint32_t error_ = 0;
};

// "01 0a 00 ...": bytes in hex, lower case, separated by blanks.
std::string HexBytes(const std::uint8_t* bytes, std::uint32_t length);
