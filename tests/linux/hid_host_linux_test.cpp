// The Linux HID host against mocked devices: the real libudev enumerates a mocked sysfs,
// and discovery and identification run over the real open, poll, write and read of the
// device nodes, which umockdev scripts answer.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "link/device_session.h"
#include "link/hid_host.h"
#include "link/link.h"
#include "link/linux/hid_host_linux.h"
#include "link/posix/clock_posix.h"
#include "link/posix/last_error_posix.h"
#include "tests/linux/mock_devices.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A report of REPORT_SIZE bytes: the leading bytes given, zero behind them.
Bytes Report(std::initializer_list<int> leading) {
    Bytes bytes(REPORT_SIZE, 0);
    std::size_t i = 0;
    for (int value : leading) bytes[i++] = static_cast<std::uint8_t>(value);
    return bytes;
}

// The identification of a ready unit, request and reply, as the unit has them. The
// unit's information word holds CR, LF, ^C, XON and XOFF: bytes a terminal would not
// pass unchanged.
const Bytes IDENTIFY = Report({1, 0x08, 0});
const Bytes IDENTIFY_REPLY = Report({2, 0, 56, 0, 3, 0, 7, 0, 0x03, 0x02, 0, 0, 0x0D, 0x0A, 0x03, 0x11});
const Bytes APP_INFO = Report({1, 0x1D, 8, 0, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF});
const Bytes APP_INFO_REPLY = Report({2, 0, 56, 0, 0x20, 0, 0, 0, 0x02, 0x03, 0x5E, 0x13});
const Bytes BOOT_INFO = Report({1, 0x22, 0});
const Bytes BOOT_INFO_REPLY = Report({2, 0, 56, 0, 0x8C, 0x40, 0x1F, 0x11, 0x05, 0, 0, 0x01});

std::string Line(char op, const Bytes& bytes, int delayMs = 0) {
    return std::string(1, op) + " " + std::to_string(delayMs) + " " + ScriptData(bytes) + "\n";
}

const std::string READY_UNIT = Line('w', IDENTIFY) + Line('r', IDENTIFY_REPLY) + Line('w', APP_INFO) +
                               Line('r', APP_INFO_REPLY) + Line('w', BOOT_INFO) + Line('r', BOOT_INFO_REPLY);

const MockHid KEYBOARD{0, 0x046D, 0xC31C, KEYBOARD_DESCRIPTOR};

MockHid Box(unsigned number) { return {number, UNIT_VENDOR_ID, PRODUCT_TUNE_BOX, UNIT_DESCRIPTOR}; }
MockHid Puck(unsigned number) { return {number, UNIT_VENDOR_ID, PRODUCT_TUNEPUCK, UNIT_DESCRIPTOR}; }

// Every transfer's bound cut short, so that a silent unit does not hold the test for the
// link's ten seconds; the transfers themselves are the real host's.
class ShortBoundHost : public HidHost {
public:
    explicit ShortBoundHost(HidHost& host, std::uint32_t boundMs) : host_(host), boundMs_(boundMs) {}
    HidInterfaceList* GetInterfaceList() override { return host_.GetInterfaceList(); }
    bool HasInterface(HidInterfaceList* l, std::uint32_t i) override { return host_.HasInterface(l, i); }
    bool GetInterfacePath(HidInterfaceList* l, std::uint32_t i, std::wstring& p) override {
        return host_.GetInterfacePath(l, i, p);
    }
    void DestroyInterfaceList(HidInterfaceList* l) override { host_.DestroyInterfaceList(l); }
    DeviceHandle Open(const std::wstring& path) override { return host_.Open(path); }
    bool GetAttributes(DeviceHandle h, HidAttributes& a) override { return host_.GetAttributes(h, a); }
    bool GetReportLengths(DeviceHandle h, HidReportLengths& l) override { return host_.GetReportLengths(h, l); }
    bool Write(DeviceHandle h, const std::uint8_t* r, std::uint32_t n, std::uint32_t) override {
        return host_.Write(h, r, n, boundMs_);
    }
    bool Read(DeviceHandle h, std::uint8_t* r, std::uint32_t n, std::uint32_t) override {
        return host_.Read(h, r, n, boundMs_);
    }
    void Close(DeviceHandle h) override { host_.Close(h); }

private:
    HidHost& host_;
    std::uint32_t boundMs_;
};

class LinuxHostTest : public ::testing::Test {
protected:
    MockDevices devices;
    LinuxHidHost host;
    PosixClock clock;

    void SetUp() override {
        hidHost = &host;
        systemClock = &clock;
        deviceSession.Reset();
    }
    void TearDown() override {
        deviceSession.Reset();
        hidHost = nullptr;
        systemClock = nullptr;
    }

    std::wstring OpenPath() const {
        return deviceSession.devicePath ? std::wstring(deviceSession.devicePath.get()) : L"";
    }
};

std::wstring WideNode(unsigned number) {
    const std::string node = MockDevices::Node(number);
    return std::wstring(node.begin(), node.end());
}

// Another program's hold on a unit: a descriptor of its own on the node, locked as the
// HID host locks the nodes it opens.
class HeldElsewhere {
public:
    explicit HeldElsewhere(unsigned number)
        : fd_(open(MockDevices::Node(number).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0) << std::strerror(errno);
        EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0) << std::strerror(errno);
    }
    ~HeldElsewhere() { Release(); }
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;

    void Release() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// The process's descriptors open on the node. (Counting all of them would not do: the
// preload library keeps sockets of its own beside the nodes it opens.)
std::size_t DescriptorsOn(unsigned number) {
    struct stat node{};
    EXPECT_EQ(stat(MockDevices::Node(number).c_str(), &node), 0);
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat open{};
        if (fstat(std::stoi(entry.path().filename().string()), &open) == 0 && open.st_dev == node.st_dev &&
            open.st_ino == node.st_ino) {
            ++count;
        }
    }
    return count;
}

TEST_F(LinuxHostTest, ListsEveryHidrawNodeByNumberWithTheIdsOfItsHidDevice) {
    // Added out of order: sysfs would list hidraw10 before hidraw2.
    devices.Add(Box(10));
    devices.Add({2, 0x046D, 0xC31C, KEYBOARD_DESCRIPTOR});
    devices.Add({0, UNIT_VENDOR_ID, 3, UNIT_DESCRIPTOR});

    HidInterfaceList* list = host.GetInterfaceList();
    ASSERT_NE(list, nullptr);
    std::vector<std::wstring> paths;
    std::vector<std::pair<int, int>> ids;
    for (std::uint32_t i = 0; host.HasInterface(list, i); ++i) {
        std::wstring path;
        ASSERT_TRUE(host.GetInterfacePath(list, i, path));
        paths.push_back(path);
        HidAttributes listed{};
        ASSERT_TRUE(host.GetListedAttributes(list, i, listed));
        ids.emplace_back(listed.vendorId, listed.productId);
    }
    std::wstring none;
    EXPECT_FALSE(host.GetInterfacePath(list, 3, none));
    host.DestroyInterfaceList(list);
    EXPECT_EQ(paths, (std::vector<std::wstring>{WideNode(0), WideNode(2), WideNode(10)}));
    EXPECT_EQ(ids, (std::vector<std::pair<int, int>>{{0x2E6D, 3}, {0x046D, 0xC31C}, {0x2E6D, 2}}));

    // An open node has the same ids, and the lengths its descriptor gives.
    const DeviceHandle handle = host.Open(WideNode(10));
    ASSERT_NE(handle, NO_DEVICE_HANDLE);
    HidAttributes attributes{};
    ASSERT_TRUE(host.GetAttributes(handle, attributes));
    EXPECT_EQ(attributes.vendorId, UNIT_VENDOR_ID);
    EXPECT_EQ(attributes.productId, PRODUCT_TUNE_BOX);
    HidReportLengths lengths{};
    ASSERT_TRUE(host.GetReportLengths(handle, lengths));
    EXPECT_EQ(lengths.outputReportByteLength, 60);
    EXPECT_EQ(lengths.inputReportByteLength, 60);
    host.Close(handle);

    const DeviceHandle keyboard = host.Open(WideNode(2));
    ASSERT_NE(keyboard, NO_DEVICE_HANDLE);
    ASSERT_TRUE(host.GetReportLengths(keyboard, lengths));
    EXPECT_EQ(lengths.outputReportByteLength, 2);
    EXPECT_EQ(lengths.inputReportByteLength, 9);
    host.Close(keyboard);
}

struct BusCase {
    const char* name;
    std::vector<MockHid> bus;
    std::vector<unsigned> forbidden;  // nodes without permission
    int ready = -1;                   // the node answering as a ready unit, if any
    std::int32_t expected;
    std::wstring taken;               // the unit held afterwards; empty: none
    std::uint16_t productId;
    bool denied;
    std::vector<unsigned> held = {};  // nodes another program holds open
};

TEST_F(LinuxHostTest, DiscoveryOnMockedBuses) {
    const BusCase cases[] = {
        {"a foreign HID device before the unit", {KEYBOARD, Box(1)}, {}, 1, LINK_OK, WideNode(1),
         PRODUCT_TUNE_BOX, false},
        {"the unit vendor's product 3 is passed over", {{0, UNIT_VENDOR_ID, 3, UNIT_DESCRIPTOR}, Puck(4)},
         {}, 4, LINK_OK, WideNode(4), PRODUCT_TUNEPUCK, false},
        {"two units: the lower hidraw number is taken", {Box(12), Puck(3)}, {}, 3, LINK_OK, WideNode(3),
         PRODUCT_TUNEPUCK, false},
        {"a unit whose reports are too short is refused before anything is sent",
         {{5, UNIT_VENDOR_ID, PRODUCT_TUNE_BOX, SHORT_REPORTS_DESCRIPTOR}}, {}, -1, LINK_NO_DEVICE,
         WideNode(5), PRODUCT_TUNE_BOX, false},
        {"a unit whose descriptor is cut short is refused",
         {{5, UNIT_VENDOR_ID, PRODUCT_TUNE_BOX, UNIT_DESCRIPTOR.substr(0, 28)}}, {}, -1, LINK_NO_DEVICE,
         WideNode(5), PRODUCT_TUNE_BOX, false},
        {"a unit without a descriptor file, whose node knows no descriptor ioctl",
         {{5, UNIT_VENDOR_ID, PRODUCT_TUNE_BOX, ""}}, {}, -1, LINK_NO_DEVICE, WideNode(5),
         PRODUCT_TUNE_BOX, false},
        {"a unit without permission", {KEYBOARD, Box(1)}, {1}, -1, LINK_UNIT_NOT_FOUND, L"", 0, true},
        {"a keyboard without permission is no unit", {KEYBOARD}, {0}, -1, LINK_UNIT_NOT_FOUND, L"", 0,
         false},
        {"a unit without permission passed over for one with it", {Box(1), Puck(2)}, {1}, 2, LINK_OK,
         WideNode(2), PRODUCT_TUNEPUCK, true},
        {"a unit another program holds is absent, not denied", {KEYBOARD, Box(1)}, {}, -1,
         LINK_UNIT_NOT_FOUND, L"", 0, false, {1}},
        {"a unit another program holds passed over for a free one", {Box(1), Puck(2)}, {}, 2, LINK_OK,
         WideNode(2), PRODUCT_TUNEPUCK, false, {1}},
    };
    for (const BusCase& c : cases) {
        SCOPED_TRACE(c.name);
        MockDevices bus;
        LinuxHidHost caseHost;
        hidHost = &caseHost;
        for (const MockHid& hid : c.bus) bus.Add(hid);
        for (unsigned number : c.forbidden) bus.Forbid(number);
        if (c.ready >= 0) bus.LoadScript(static_cast<unsigned>(c.ready), READY_UNIT);
        std::vector<std::unique_ptr<HeldElsewhere>> holds;
        for (unsigned number : c.held) holds.push_back(std::make_unique<HeldElsewhere>(number));

        std::int32_t result;
        {
            WithoutFileRights asAUser;
            result = OpenUnit(deviceSession);
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(OpenPath(), c.taken);
        EXPECT_EQ(deviceSession.productId, c.productId);
        EXPECT_EQ(UnitDeniedAtLastOpen(), c.denied);
        if (c.ready < 0 && !c.taken.empty()) {
            // Refused before the first request: nothing reached the unit.
            pollfd unitSide{bus.UnitSide(5), POLLIN, 0};
            EXPECT_EQ(poll(&unitSide, 1, 0), 0);
        }
        for (unsigned number : c.held) {
            // Nothing was sent into the other program's exchange.
            pollfd unitSide{bus.UnitSide(number), POLLIN, 0};
            EXPECT_EQ(poll(&unitSide, 1, 0), 0) << "hidraw" << number;
        }
        deviceSession.Reset();
        hidHost = &host;
    }
}

TEST_F(LinuxHostTest, IdentifiesAReadyUnitOverItsNode) {
    devices.Add(Box(7));
    devices.LoadScript(7, READY_UNIT);

    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(OpenPath(), WideNode(7));
    EXPECT_EQ(deviceSession.outReportLength, 60u);
    EXPECT_EQ(deviceSession.inReportLength, 60u);
    EXPECT_EQ(deviceSession.unitMode, 0);
    EXPECT_EQ(deviceSession.escState, 3);
    EXPECT_EQ(deviceSession.escAuxWord, 7);
    EXPECT_EQ(deviceSession.unitFirmwareVersion, 0x0203u);
    EXPECT_EQ(deviceSession.unitInfoWord, 0x11030A0Du);
    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, 0x0302);
    EXPECT_EQ(deviceSession.escAppInfo.bytes6to31[0], 0x5E);
    EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, 0x111F408Cu);
    EXPECT_EQ(deviceSession.escBootInfo.escBootloaderVersion, 0x01000005u);
    EXPECT_EQ(clock.LastError(), 0u);
}

TEST_F(LinuxHostTest, ASilentUnitFailsTheReadWhenTheBoundHasPassed) {
    devices.Add(Box(7));
    devices.LoadScript(7, Line('w', IDENTIFY));
    ShortBoundHost shortBound(host, 200);
    hidHost = &shortBound;

    EXPECT_EQ(OpenUnit(deviceSession), LINK_READ_FAILED);
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_EQ(OpenPath(), WideNode(7));  // held for the caller, as on any failed identification
    deviceSession.Reset();
    hidHost = &host;
}

TEST_F(LinuxHostTest, APulledUnitFailsItsExchangesAtOnce) {
    devices.Add(Box(7));
    // The unit takes the identification's request and drops off the bus.
    std::thread unit([&] {
        EXPECT_EQ(devices.TakeWritten(7, REPORT_SIZE), IDENTIFY);
        devices.HangUp(7);
    });

    // With the link's own bound: a read that waited for it would end in ETIMEDOUT.
    EXPECT_EQ(OpenUnit(deviceSession), LINK_READ_FAILED);
    unit.join();
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ENODEV));

    // The next request is not even written.
    EXPECT_EQ(EraseFirmware(deviceSession), LINK_WRITE_FAILED);
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ENODEV));
}

TEST_F(LinuxHostTest, SignalsDuringAWaitDoNotEndItEarly) {
    devices.Add(Box(7));
    // The reply comes 300 ms after the request; signals arrive every 10 ms meanwhile.
    devices.LoadScript(7, Line('w', IDENTIFY) + Line('r', IDENTIFY_REPLY, 300));
    struct sigaction action{};
    action.sa_handler = [](int) {};
    struct sigaction previous{};
    sigaction(SIGUSR1, &action, &previous);  // no SA_RESTART: poll returns EINTR
    const pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    const DeviceHandle handle = host.Open(WideNode(7));
    ASSERT_NE(handle, NO_DEVICE_HANDLE);
    EXPECT_TRUE(host.Write(handle, IDENTIFY.data(), REPORT_SIZE, 2000));
    Bytes reply(REPORT_SIZE);
    EXPECT_TRUE(host.Read(handle, reply.data(), REPORT_SIZE, 2000));
    EXPECT_EQ(reply, IDENTIFY_REPLY);
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    host.Close(handle);
}

TEST_F(LinuxHostTest, AUnitHeldByAnotherProgramIsTakenOnceItIsFree) {
    devices.Add(Box(7));
    HeldElsewhere other(7);
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_FALSE(UnitDeniedAtLastOpen());
    EXPECT_EQ(OpenPath(), L"");

    other.Release();
    devices.LoadScript(7, READY_UNIT);
    EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(OpenPath(), WideNode(7));
}

TEST_F(LinuxHostTest, AnOpenHandleHoldsItsNodeAgainstEveryOtherDescriptor) {
    devices.Add(Box(7));
    {
        HeldElsewhere other(7);
        const std::size_t before = DescriptorsOn(7);
        EXPECT_EQ(host.Open(WideNode(7)), NO_DEVICE_HANDLE);
        EXPECT_FALSE(host.LastOpenDenied());
        EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(EWOULDBLOCK));
        EXPECT_EQ(DescriptorsOn(7), before);  // the refused descriptor is not left open
    }

    const DeviceHandle handle = host.Open(WideNode(7));
    ASSERT_NE(handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(clock.LastError(), 0u);
    // A second program's host, as a user's watch beside root's update, is kept off.
    LinuxHidHost second;
    EXPECT_EQ(second.Open(WideNode(7)), NO_DEVICE_HANDLE);
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(EWOULDBLOCK));
    EXPECT_EQ(flock(static_cast<int>(handle), LOCK_EX | LOCK_NB), 0);  // still this host's own

    host.Close(handle);
    const DeviceHandle after = second.Open(WideNode(7));
    EXPECT_NE(after, NO_DEVICE_HANDLE);
    second.Close(after);
}

// As on a file system that knows no flock: the unit is opened all the same, unlocked.
// A seccomp filter refuses flock with ENOLCK in one thread only, which ends with it.
TEST_F(LinuxHostTest, ANodeThatCannotBeLockedIsOpenedUnlocked) {
    devices.Add(Box(7));
    bool filtered = false;
    int refusal = 0;
    DeviceHandle handle = NO_DEVICE_HANDLE;
    std::uint32_t error = 0;
    std::thread([&] {
        sock_filter rules[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_flock, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOLCK),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(rules)), rules};
        filtered = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                   prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
        if (!filtered) return;
        const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
        refusal = flock(probe, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        close(probe);
        handle = host.Open(WideNode(7));
        error = clock.LastError();
    }).join();
    if (!filtered) GTEST_SKIP() << "no seccomp filters here";
    ASSERT_EQ(refusal, ENOLCK);

    EXPECT_NE(handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(error, 0u);
    EXPECT_FALSE(host.LastOpenDenied());
    if (handle != NO_DEVICE_HANDLE) host.Close(handle);
}

TEST_F(LinuxHostTest, OpenFailuresLeaveTheirErrno) {
    devices.Add(Box(7));
    devices.Forbid(7);
    {
        WithoutFileRights asAUser;
        EXPECT_EQ(host.Open(WideNode(7)), NO_DEVICE_HANDLE);
    }
    EXPECT_TRUE(host.LastOpenDenied());
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(EACCES));

    EXPECT_EQ(host.Open(WideNode(8)), NO_DEVICE_HANDLE);
    EXPECT_FALSE(host.LastOpenDenied());
    EXPECT_EQ(clock.LastError(), static_cast<std::uint32_t>(ENOENT));

    // Not an ASCII path: nothing is opened in its place.
    EXPECT_EQ(host.Open(L"/dev/hidraw\u0137"), NO_DEVICE_HANDLE);
    EXPECT_FALSE(host.LastOpenDenied());
}

}  // namespace
