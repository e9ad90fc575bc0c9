#include "link/linux/hid_host_linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "link/ascii_path.h"
#include "link/hid_id.h"
#include "link/posix/last_error_posix.h"
#include "link/report_descriptor.h"

struct HidInterfaceList {
    struct Entry {
        unsigned long number;  // N of hidrawN
        std::wstring path;
        bool idsListed;
        HidAttributes attributes;
    };
    std::vector<Entry> entries;
};

namespace {

// The largest descriptor the kernel hands out (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t MAX_DESCRIPTOR_SIZE = 4096;

using UdevDevice = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;

bool Succeed() {
    SetPosixLastError(0);
    return true;
}

// A failing call that left no errno still leaves an error behind.
bool Fail(int error) {
    SetPosixLastError(error != 0 ? error : EIO);
    return false;
}

std::int64_t NowNanos() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The HID device a hidraw device belongs to; owned by hidraw.
udev_device* HidParent(udev_device* hidraw) {
    return udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
}

bool ReadHidIds(udev_device* hidraw, HidAttributes& attributes) {
    udev_device* hid = HidParent(hidraw);
    return hid != nullptr && ParseHidId(udev_device_get_property_value(hid, "HID_ID"), attributes);
}

// The parent HID device's report_descriptor file, whole.
bool ReadDescriptorFile(udev_device* hidraw, std::vector<std::uint8_t>& descriptor) {
    udev_device* hid = HidParent(hidraw);
    const char* syspath = hid != nullptr ? udev_device_get_syspath(hid) : nullptr;
    if (syspath == nullptr) {
        return false;
    }
    const std::string file = std::string(syspath) + "/report_descriptor";
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // One byte more than the largest, so that a longer file shows.
    descriptor.resize(MAX_DESCRIPTOR_SIZE + 1);
    std::size_t size = 0;
    for (;;) {
        const ssize_t got = read(fd, descriptor.data() + size, descriptor.size() - size);
        if (got > 0) {
            size += static_cast<std::size_t>(got);
            if (size < descriptor.size()) {
                continue;
            }
        } else if (got < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    close(fd);
    descriptor.resize(size);
    return size > 0 && size <= MAX_DESCRIPTOR_SIZE;
}

bool ReadDescriptorIoctl(int fd, std::vector<std::uint8_t>& descriptor) {
    int size = 0;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 ||
        static_cast<std::size_t>(size) > MAX_DESCRIPTOR_SIZE) {
        return false;
    }
    hidraw_report_descriptor raw{};
    raw.size = static_cast<__u32>(size);
    if (ioctl(fd, HIDIOCGRDESC, &raw) < 0) {
        return false;
    }
    descriptor.assign(raw.value, raw.value + size);
    return true;
}

// Waits until fd is ready for events or the deadline has passed. False with errno set:
// ETIMEDOUT, ENODEV when the device hung up or failed, or poll's own error.
bool WaitReady(LinuxHidHost::PollFunction wait, int fd, short events, std::int64_t deadline) {
    for (;;) {
        const std::int64_t left = deadline - NowNanos();
        const int timeout =
            left <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((left + 999'999) / 1'000'000, INT_MAX));
        pollfd entry{fd, events, 0};
        const int ready = wait(&entry, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;  // the deadline stays
            }
            return false;
        }
        if (ready == 0) {
            if (timeout == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            continue;
        }
        // A pulled unit hangs up; whatever it still has queued is of no use.
        if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            errno = (entry.revents & POLLNVAL) != 0 ? EBADF : ENODEV;
            return false;
        }
        if ((entry.revents & events) != 0) {
            return true;
        }
    }
}

std::int64_t Deadline(std::uint32_t timeoutMs) {
    return NowNanos() + static_cast<std::int64_t>(timeoutMs) * 1'000'000;
}

}  // namespace

LinuxHidHost::LinuxHidHost() : udev_(udev_new()) {}

// Open handles belong to their holders, who close them through Close.
LinuxHidHost::~LinuxHidHost() {
    udev_unref(udev_);
}

HidInterfaceList* LinuxHidHost::GetInterfaceList() {
    if (udev_ == nullptr) {
        return nullptr;
    }
    std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> enumeration(
        udev_enumerate_new(udev_), udev_enumerate_unref);
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return nullptr;
    }
    auto list = std::make_unique<HidInterfaceList>();
    udev_list_entry* item;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevDevice device(udev_device_new_from_syspath(udev_, udev_list_entry_get_name(item)),
                          udev_device_unref);
        const char* node = device ? udev_device_get_devnode(device.get()) : nullptr;
        const char* number = device ? udev_device_get_sysnum(device.get()) : nullptr;
        HidInterfaceList::Entry entry{};
        if (number == nullptr || !WidenAsciiPath(node, entry.path)) {
            continue;  // no node to open
        }
        entry.number = std::strtoul(number, nullptr, 10);
        entry.idsListed = ReadHidIds(device.get(), entry.attributes);
        list->entries.push_back(std::move(entry));
    }
    // The order stays the same from one search to the next, whatever sysfs lists first.
    std::stable_sort(list->entries.begin(), list->entries.end(),
                     [](const auto& a, const auto& b) { return a.number < b.number; });
    return list.release();
}

bool LinuxHidHost::HasInterface(HidInterfaceList* list, std::uint32_t index) {
    return index < list->entries.size();
}

bool LinuxHidHost::GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) {
    if (index >= list->entries.size()) {
        return false;
    }
    path = list->entries[index].path;
    return true;
}

void LinuxHidHost::DestroyInterfaceList(HidInterfaceList* list) {
    delete list;
}

bool LinuxHidHost::GetListedAttributes(HidInterfaceList* list, std::uint32_t index,
                                       HidAttributes& attributes) {
    if (index >= list->entries.size() || !list->entries[index].idsListed) {
        return false;
    }
    attributes = list->entries[index].attributes;
    return true;
}

DeviceHandle LinuxHidHost::Open(const std::wstring& path) {
    lastOpenDenied_ = false;
    lastOpenBusy_ = false;
    std::string node;
    if (!NarrowAsciiPath(path, node)) {
        Fail(ENOENT);
        return NO_DEVICE_HANDLE;
    }
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastOpenDenied_ = errno == EACCES || errno == EPERM;
        Fail(errno);
        return NO_DEVICE_HANDLE;
    }
    // One program at a time on a unit, whoever runs it: a second one would take this
    // one's replies. The lock goes with the descriptor, so Close and exit release it.
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK) {
        const int error = errno;
        lastOpenBusy_ = true;
        close(fd);
        Fail(error);
        return NO_DEVICE_HANDLE;
    }
    // Any other failure is a node that knows no locks; it is used unguarded rather than
    // not at all.
    nodeNames_[fd] = node.substr(node.find_last_of('/') + 1);
    Succeed();
    return fd;
}

bool LinuxHidHost::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    const auto name = nodeNames_.find(handle);
    if (name == nodeNames_.end() || udev_ == nullptr) {
        return false;
    }
    UdevDevice device(udev_device_new_from_subsystem_sysname(udev_, "hidraw", name->second.c_str()),
                      udev_device_unref);
    return device && ReadHidIds(device.get(), attributes);
}

bool LinuxHidHost::GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) {
    const auto name = nodeNames_.find(handle);
    if (name == nodeNames_.end() || udev_ == nullptr) {
        return false;
    }
    UdevDevice device(udev_device_new_from_subsystem_sysname(udev_, "hidraw", name->second.c_str()),
                      udev_device_unref);
    std::vector<std::uint8_t> descriptor;
    if (!(device && ReadDescriptorFile(device.get(), descriptor)) &&
        !ReadDescriptorIoctl(static_cast<int>(handle), descriptor)) {
        return false;
    }
    HidReportLengths parsed{};
    if (ParseReportDescriptor(descriptor.data(), descriptor.size(), parsed) != DESCRIPTOR_OK) {
        return false;
    }
    lengths = parsed;
    return true;
}

bool LinuxHidHost::Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
                         std::uint32_t timeoutMs) {
    const int fd = static_cast<int>(handle);
    const std::int64_t deadline = Deadline(timeoutMs);
    for (;;) {
        if (!WaitReady(poll_, fd, POLLOUT, deadline)) {
            return Fail(errno);
        }
        const ssize_t written = write(fd, report, length);
        if (written >= 0 && static_cast<std::size_t>(written) == length) {
            return Succeed();
        }
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        // A report goes whole or not at all; part of one is a unit in trouble.
        return Fail(written < 0 ? errno : EIO);
    }
}

bool LinuxHidHost::Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                        std::uint32_t timeoutMs) {
    const int fd = static_cast<int>(handle);
    const std::int64_t deadline = Deadline(timeoutMs);
    for (;;) {
        if (!WaitReady(poll_, fd, POLLIN, deadline)) {
            return Fail(errno);
        }
        const ssize_t got = read(fd, report, length);
        if (got > 0) {
            return Succeed();
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        // End of file: the node has gone.
        return Fail(got == 0 ? ENODEV : errno);
    }
}

void LinuxHidHost::Close(DeviceHandle handle) {
    nodeNames_.erase(handle);
    close(static_cast<int>(handle));
}
