// The Win32 HID host against the platform's own SetupAPI (no programming unit present)
// and against overlapped pipes that stand in for a device that does not answer.
// The link's headers come first: they name ERROR_FUNCTION_FAILED as a constant, which
// <windows.h> would otherwise have turned into a macro.
#include "link/device_session.h"
#include "link/link.h"
#include "link/win32/hid_host_win32.h"
#include "tests/win32/probe_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t SHORT_TIMEOUT_MS = 100;

TEST(Win32HidHostDiscovery, ListsPresentInterfacesWithReadablePaths) {
    Win32HidHost host;
    HidInterfaceList* list = host.GetInterfaceList();
    if (list == nullptr) {
        GTEST_SKIP() << "the platform gives no HID interface list";
    }
    for (std::uint32_t index = 0; index < 64 && host.HasInterface(list, index); ++index) {
        std::wstring path;
        ASSERT_TRUE(host.GetInterfacePath(list, index, path)) << "interface " << index;
        EXPECT_FALSE(path.empty());
    }
    EXPECT_FALSE(host.HasInterface(list, 100000));
    std::wstring path;
    EXPECT_FALSE(host.GetInterfacePath(list, 100000, path));
    host.DestroyInterfaceList(list);
}

TEST(Win32HidHostDiscovery, OpenUnitFindsNoUnitAndLeavesNothingOpen) {
    Win32HidHost host;
    HidHost* const previous = hidHost;
    hidHost = &host;
    deviceSession.Reset();
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(deviceSession.devicePath, nullptr);
    EXPECT_EQ(deviceSession.productId, 0);
    hidHost = previous;
}

TEST(Win32HidHostDiscovery, MissingDeviceDoesNotOpen) {
    Win32HidHost host;
    EXPECT_EQ(host.Open(L"\\\\?\\hid#vid_2e6d&pid_0002#no-such-device"), NO_DEVICE_HANDLE);
}

// A connected pair of overlapped pipe ends: the host's end and the far end that plays
// the device.
class Win32HidHostTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring name = L"\\\\.\\pipe\\orv-hid-host-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++pipeCount);
        device = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                  0, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        handle = host.Open(name);
        ASSERT_NE(handle, NO_DEVICE_HANDLE);
    }
    void TearDown() override {
        if (handle != NO_DEVICE_HANDLE) {
            host.Close(handle);
        }
        if (device != INVALID_HANDLE_VALUE) {
            CloseHandle(device);
        }
    }

    // The far end sends bytes to the host.
    void DeviceSends(const std::uint8_t* bytes, DWORD count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (!WriteFile(device, bytes, count, nullptr, &overlapped)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        }
        ASSERT_TRUE(GetOverlappedResult(device, &overlapped, &written, TRUE));
        CloseHandle(overlapped.hEvent);
        ASSERT_EQ(written, count);
    }

    // The far end takes up to count bytes that the host sent; the count received.
    DWORD DeviceReceives(std::uint8_t* bytes, DWORD count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD received = 0;
        if (!ReadFile(device, bytes, count, nullptr, &overlapped) &&
            GetLastError() == ERROR_IO_PENDING &&
            WaitForSingleObject(overlapped.hEvent, 2000) != WAIT_OBJECT_0) {
            CancelIoEx(device, &overlapped);
        }
        GetOverlappedResult(device, &overlapped, &received, TRUE);
        CloseHandle(overlapped.hEvent);
        return received;
    }

    static inline int pipeCount = 0;
    Win32HidHost host;
    HANDLE device = INVALID_HANDLE_VALUE;
    DeviceHandle handle = NO_DEVICE_HANDLE;
};

TEST_F(Win32HidHostTransfer, WritesExactlyTheGivenLength) {
    std::uint8_t report[REPORT_SIZE];
    for (std::size_t i = 0; i < sizeof(report); ++i) {
        report[i] = static_cast<std::uint8_t>(i + 1);
    }
    ASSERT_TRUE(host.Write(handle, report, 52, LINK_TIMEOUT_MS));
    std::uint8_t received[128] = {};
    ASSERT_EQ(DeviceReceives(received, sizeof(received)), 52u);
    EXPECT_EQ(std::memcmp(received, report, 52), 0);
}

TEST_F(Win32HidHostTransfer, ReadsNoMoreThanTheGivenLength) {
    std::uint8_t sent[100];
    for (std::size_t i = 0; i < sizeof(sent); ++i) {
        sent[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    DeviceSends(sent, sizeof(sent));
    std::uint8_t buffer[REPORT_SIZE + 4];
    std::memset(buffer, 0xA5, sizeof(buffer));
    ASSERT_TRUE(host.Read(handle, buffer, 44, LINK_TIMEOUT_MS));
    EXPECT_EQ(std::memcmp(buffer, sent, 44), 0);
    for (std::size_t i = 44; i < sizeof(buffer); ++i) {
        EXPECT_EQ(buffer[i], 0xA5) << "byte " << i << " written past the length";
    }
    // What was not read is still there for the next read.
    ASSERT_TRUE(host.Read(handle, buffer, 56, LINK_TIMEOUT_MS));
    EXPECT_EQ(std::memcmp(buffer, sent + 44, 56), 0);
}

TEST_F(Win32HidHostTransfer, SilentDeviceEndsTheReadAndCancelsIt) {
    std::uint8_t buffer[REPORT_SIZE];
    std::memset(buffer, 0xA5, sizeof(buffer));
    SetLastError(0);
    EXPECT_FALSE(host.Read(handle, buffer, sizeof(buffer), SHORT_TIMEOUT_MS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));

    // The cancelled read is over: data that arrives later does not land in the buffer
    // the caller has got back, and the next read receives it whole.
    const std::uint8_t late[REPORT_SIZE] = {2, 0x11, 0x22, 0x33};
    DeviceSends(late, sizeof(late));
    Sleep(50);
    for (std::uint8_t byte : buffer) {
        ASSERT_EQ(byte, 0xA5);
    }
    ASSERT_TRUE(host.Read(handle, buffer, sizeof(buffer), LINK_TIMEOUT_MS));
    EXPECT_EQ(std::memcmp(buffer, late, sizeof(late)), 0);
}

// While a unit is silent the window must stay alive: its sent messages answered, so that
// Windows never takes it for hung, and its input left for later.
class Win32HidHostWaits : public ProbeWindowTest {};

TEST_F(Win32HidHostWaits, SilentDeviceReadAnswersSentMessagesAndLeavesInputQueued) {
    const std::wstring name = L"\\\\.\\pipe\\orv-hid-host-wait-" + std::to_wstring(GetCurrentProcessId());
    HANDLE device = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                     nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Win32HidHost host;
    const DeviceHandle handle = host.Open(name);
    ASSERT_NE(handle, NO_DEVICE_HANDLE);
    ASSERT_TRUE(PostMessageW(window, WM_LBUTTONDOWN, 0, 0));

    std::uint8_t buffer[REPORT_SIZE];
    bool read = true;
    DWORD error = 0;
    EXPECT_TRUE(AnswersProbeDuring([&] {
        read = host.Read(handle, buffer, sizeof(buffer), 300);
        error = GetLastError();
    }));
    EXPECT_FALSE(read);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_TIMEOUT)) << "not the error window code left meanwhile";
    EXPECT_FALSE(Received(WM_LBUTTONDOWN));
    EXPECT_EQ(Queued(), std::vector<UINT>{WM_LBUTTONDOWN});
    host.Close(handle);
    CloseHandle(device);
}

TEST_F(Win32HidHostTransfer, StuckWriteEndsAndIsCancelled) {
    // Nobody drains the pipe: once its buffer is full a write can no longer complete.
    std::uint8_t report[REPORT_SIZE];
    std::memset(report, 0x5A, sizeof(report));
    std::uint32_t completed = 0;
    while (completed < 1000 && host.Write(handle, report, sizeof(report), SHORT_TIMEOUT_MS)) {
        ++completed;
    }
    ASSERT_LT(completed, 1000u) << "the pipe never filled";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));

    // Nothing of the cancelled write is left pending: once drained, the pipe holds what
    // the completed writes sent, and a new write goes through.
    std::uint32_t drained = 0;
    std::uint8_t chunk[4096];
    while (drained < completed * sizeof(report)) {
        const DWORD got = DeviceReceives(chunk, sizeof(chunk));
        ASSERT_GT(got, 0u);
        drained += got;
    }
    EXPECT_EQ(drained, completed * sizeof(report));
    ASSERT_TRUE(host.Write(handle, report, sizeof(report), SHORT_TIMEOUT_MS));
    EXPECT_EQ(DeviceReceives(chunk, sizeof(chunk)), sizeof(report));
}

TEST_F(Win32HidHostTransfer, ClosedDeviceFailsBothWays) {
    CloseHandle(device);
    device = INVALID_HANDLE_VALUE;
    std::uint8_t buffer[REPORT_SIZE] = {1};
    EXPECT_FALSE(host.Write(handle, buffer, sizeof(buffer), SHORT_TIMEOUT_MS));
    EXPECT_FALSE(host.Read(handle, buffer, sizeof(buffer), SHORT_TIMEOUT_MS));
}

TEST_F(Win32HidHostTransfer, NonHidHandleHasNoAttributesOrCapabilities) {
    HidAttributes attributes{0x1234, 0x5678};
    EXPECT_FALSE(host.GetAttributes(handle, attributes));
    HidReportLengths lengths{7, 9};
    EXPECT_FALSE(host.GetReportLengths(handle, lengths));
    EXPECT_EQ(lengths.outputReportByteLength, 7);
    EXPECT_EQ(lengths.inputReportByteLength, 9);
}

}  // namespace
