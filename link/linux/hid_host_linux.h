// The HID host seam over libudev and the hidraw device nodes.
#pragma once

#include <map>
#include <string>

#include "link/hid_host.h"

#include <poll.h>

struct udev;

class LinuxHidHost : public HidHost {
public:
    LinuxHidHost();
    ~LinuxHidHost() override;
    LinuxHidHost(const LinuxHidHost&) = delete;
    LinuxHidHost& operator=(const LinuxHidHost&) = delete;

    // How a transfer waits for its node, with poll's contract: poll itself unless a
    // window's program keeps its windows alive meanwhile.
    using PollFunction = int (*)(pollfd* entries, nfds_t count, int timeoutMs);
    void SetPoll(PollFunction wait) { poll_ = wait; }

    // Every hidraw device with a node, by hidraw number; the path is the node
    // (/dev/hidrawN), the ids come from the parent HID device's HID_ID.
    HidInterfaceList* GetInterfaceList() override;
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override;
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override;
    void DestroyInterfaceList(HidInterfaceList* list) override;
    bool GetListedAttributes(HidInterfaceList* list, std::uint32_t index,
                             HidAttributes& attributes) override;
    // Read and write, non-blocking: every transfer waits in poll, against its deadline.
    // The node stays locked (flock, exclusive) while the handle is open, for every
    // program on the computer: hidraw gives each input report to every open descriptor,
    // so two programs on one unit would take each other's replies. A node locked by
    // another descriptor is not opened (EWOULDBLOCK, not denied): the unit counts as
    // absent until it is free. A node that cannot be locked at all is opened unlocked.
    DeviceHandle Open(const std::wstring& path) override;
    // EACCES or EPERM: the node is there, the user lacks the rights the udev rule gives.
    bool LastOpenDenied() override { return lastOpenDenied_; }
    // EWOULDBLOCK on the lock: another program has the unit open.
    bool LastOpenBusy() override { return lastOpenBusy_; }
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
    // From the parent HID device's report descriptor (sysfs, else HIDIOCGRDESC).
    bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) override;
    // A hang-up, an error, a failed or short write, or end of file fails at once; the
    // errno is left for the clock's LastError, ETIMEDOUT when the deadline passed.
    bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
               std::uint32_t timeoutMs) override;
    bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
              std::uint32_t timeoutMs) override;
    void Close(DeviceHandle handle) override;

private:
    udev* udev_;
    std::map<DeviceHandle, std::string> nodeNames_;  // hidrawN of each open handle
    bool lastOpenDenied_ = false;
    bool lastOpenBusy_ = false;
    PollFunction poll_ = ::poll;
};
