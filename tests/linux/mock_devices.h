// A umockdev test bed of hidraw devices for one test: a mocked sysfs that the real
// libudev enumerates, and device nodes (pseudo-terminals underneath) that the real open,
// poll, write and read reach. Only works under umockdev's preload library.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <umockdev.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/reports.h"

// What one mocked HID device is.
struct MockHid {
    unsigned number;          // N of /dev/hidrawN
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::string descriptor;   // report descriptor as hex digits; empty: no sysfs file
};

// The programming unit's descriptor: report 1 out and report 2 in, 59 bytes each (60
// with the id byte).
inline const std::string UNIT_DESCRIPTOR =
    "0600FF0901A101" "85010901150026FF007508953B9102" "85020901953B8102" "C0";
// A unit whose reports are 32 bytes: too short for a block.
inline const std::string SHORT_REPORTS_DESCRIPTOR =
    "0600FF0901A101" "85010901150026FF007508951F9102" "85020901951F8102" "C0";
// The boot keyboard's.
inline const std::string KEYBOARD_DESCRIPTOR =
    "05010906A101050719E029E715002501750195088102950175088101950575010508190129059102"
    "950175039101950675081500256505071900296581""00C0";

// Bytes in the form of umockdev's scripts: control bytes as '^' and the byte plus 64,
// '^' itself as "^`", every other byte as it is.
inline std::string ScriptData(const std::vector<std::uint8_t>& bytes) {
    std::string data;
    for (std::uint8_t byte : bytes) {
        if (byte < 32) {
            data += '^';
            data += static_cast<char>(byte + 64);
        } else if (byte == '^') {
            data += "^`";
        } else {
            data += static_cast<char>(byte);
        }
    }
    return data;
}

class MockDevices {
public:
    MockDevices() : bed_(umockdev_testbed_new()) {}
    ~MockDevices() { g_object_unref(bed_); }
    MockDevices(const MockDevices&) = delete;
    MockDevices& operator=(const MockDevices&) = delete;

    static std::string Node(unsigned number) { return "/dev/hidraw" + std::to_string(number); }

    // Adds a USB HID device with its hidraw device (an "add" event each); returns the
    // hidraw device's sysfs path.
    std::string Add(const MockHid& hid) {
        char ids[64];
        std::snprintf(ids, sizeof ids, "%04X:%04X", hid.vendorId, hid.productId);
        const std::string n = std::to_string(hid.number);
        const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + n;
        const std::string hidDevice = usb + "/1-" + n + ":1.0/0003:" + ids + "." + n;
        const std::string hidraw = hidDevice + "/hidraw/hidraw" + n;
        char usbIds[64];
        std::snprintf(usbIds, sizeof usbIds, "A: idVendor=%04x\nA: idProduct=%04x\n", hid.vendorId,
                      hid.productId);
        std::string text = "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + usbIds + "\n";
        text += "P: " + usb + "/1-" + n + ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
        text += "P: " + hidDevice + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:0000" +
                std::string(ids, 4) + ":0000" + std::string(ids + 5, 4) + "\n";
        if (!hid.descriptor.empty()) {
            text += "H: report_descriptor=" + hid.descriptor + "\n";
        }
        text += "\nP: " + hidraw + "\nN: hidraw" + n + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" +
                Node(hid.number) + "\nA: dev=245:" + n + "\n";
        GError* error = nullptr;
        EXPECT_TRUE(umockdev_testbed_add_from_string(bed_, text.c_str(), &error))
            << (error ? error->message : "");
        if (error != nullptr) g_error_free(error);
        return "/sys" + hidraw;
    }

    // Plays a script on the device node: "w" lines are what the program must write (byte
    // for byte, else umockdev stops the test), "r" lines what it then reads.
    void LoadScript(unsigned number, const std::string& script) {
        char* root = umockdev_testbed_get_root_dir(bed_);
        const std::string file = std::string(root) + "/script-hidraw" + std::to_string(number);
        g_free(root);
        std::ofstream(file) << script;
        GError* error = nullptr;
        EXPECT_TRUE(umockdev_testbed_load_script(bed_, Node(number).c_str(), file.c_str(), &error))
            << (error ? error->message : "");
        if (error != nullptr) g_error_free(error);
    }

    // The node without permission for anyone (udev has not given it to the user).
    void Forbid(unsigned number) { EXPECT_EQ(chmod(Node(number).c_str(), 0), 0); }

    // The device's end of the node, for a test that plays the unit itself.
    int UnitSide(unsigned number) { return umockdev_testbed_get_dev_fd(bed_, Node(number).c_str()); }

    // Takes what the program writes to the node, as the unit would, until size bytes have
    // come or 5 s have passed. The device's end reports a hang-up until the program has
    // opened the node, so it is looked at in short steps.
    std::vector<std::uint8_t> TakeWritten(unsigned number, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        std::size_t got = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got < size && std::chrono::steady_clock::now() < until) {
            pollfd side{UnitSide(number), POLLIN, 0};
            if (poll(&side, 1, 10) > 0 && (side.revents & POLLIN) != 0) {
                const ssize_t n = read(side.fd, bytes.data() + got, size - got);
                if (n > 0) {
                    got += static_cast<std::size_t>(n);
                    continue;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        bytes.resize(got);
        return bytes;
    }

    // The unit drops off: its end of the node closes, so the program's end hangs up as a
    // pulled unit's node does. The descriptor number stays taken (by /dev/null) because
    // the test bed closes it once more at its end. No script may be running on the node.
    void HangUp(unsigned number) {
        const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        ASSERT_GE(devNull, 0);
        ASSERT_GE(dup2(devNull, UnitSide(number)), 0);
        close(devNull);
    }

    // The kernel's removal of the device: the event, then the sysfs entries and node.
    void Remove(const std::string& syspath) {
        umockdev_testbed_uevent(bed_, syspath.c_str(), "remove");
        umockdev_testbed_remove_device(bed_, syspath.c_str());
    }

    void Event(const std::string& syspath, const char* action) {
        umockdev_testbed_uevent(bed_, syspath.c_str(), action);
    }

private:
    UMockdevTestbed* bed_;
};

// The file-permission rights root has beyond the mode bits, lowered for a scope, so that
// a node without permission is refused even when the tests run as root.
class WithoutFileRights {
public:
    WithoutFileRights() {
        header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        EXPECT_EQ(syscall(SYS_capset, &header_, lowered), 0);
    }
    ~WithoutFileRights() { syscall(SYS_capset, &header_, saved_); }
    WithoutFileRights(const WithoutFileRights&) = delete;
    WithoutFileRights& operator=(const WithoutFileRights&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
};
