// A simulated programming unit with an ESC behind it, served through the HID host seam.
// It stands in for the hardware in the tests, in the demo and in the simulated build.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/hid_host.h"

// What the simulated unit and its ESC are.
struct SimConfig {
    std::uint16_t vendorId = UNIT_VENDOR_ID;
    std::uint16_t productId = PRODUCT_TUNE_BOX;
    std::uint16_t outReportLength = 60;  // report id byte included
    std::uint16_t inReportLength = 60;
    std::uint8_t unitMode = 0;                        // CMD_IDENTIFY result
    std::uint32_t unitFirmwareVersion = 0x00000203;   // reported in mode 0
    std::uint32_t unitInfoWord = 0x00000001;
    std::uint32_t unitMemoryFirmwareVersion = 0x00000104;  // CMD_READ_UNIT_MEMORY, other mode
    UnitBootInfo unitBootInfo{0x11, 0x2233, 0x44556677, 0x8899AABB, 0xCC};
    std::uint16_t escState = 3;
    std::uint16_t escAuxWord = 0x0007;
    std::uint32_t escHardwareId = 0x111F408C;
    std::uint32_t escBootloaderVersion = 0x01000005;
    std::uint16_t escFirmwareVersion = 0x0302;  // 0xFFFF: no application firmware
    std::uint16_t versionAfterUpdate = 0x0303;  // reported once new firmware is written and protected
    bool lockAccepted = true;                   // CMD_SYSTEM_LOCK 1 answered with result 1
    std::uint32_t flashSize = 0x20000;
};

// A fault injected into one exchange.
struct SimFault {
    enum class Kind {
        None,
        WriteFails,  // the request is not written
        ReadFails,   // the request is taken, the reply read fails
        ErrorReply,  // status 0xFF with errorCode
        NoReply,     // the request is taken, no reply ever comes (the read times out)
    };
    Kind kind = Kind::None;
    std::uint32_t errorCode = 0;
    std::uint32_t lastError = 0;  // the platform error a failing write or read leaves
};

// One request as the unit received it.
struct SimRequest {
    std::uint8_t bytes[REPORT_SIZE];  // the written bytes, zero beyond length
    std::uint32_t length;             // bytes written
    std::uint64_t writtenAtMicros;    // clock time of the write
    std::uint64_t readAtMicros;       // clock time of the reply's read; 0 if never read
};

class SimulatedUnit {
public:
    explicit SimulatedUnit(const SimConfig& config);

    SimConfig config;
    std::vector<std::uint8_t> flash;  // the ESC's application flash
    bool systemLock = false;
    bool writeProtected = true;
    std::uint32_t address = 0;
    std::uint32_t blocksWritten = 0;

    // Faults and delays by exchange index: the n-th request this unit receives, from 0.
    std::map<std::size_t, SimFault> faults;
    std::map<std::size_t, std::uint32_t> replyDelayMs;
    std::uint32_t defaultReplyDelayMs = 0;
    // Every request received, in order.
    std::vector<SimRequest> requests;

    // Builds the reply to a request as the unit would (no faults applied).
    void Answer(const std::uint8_t* request, std::uint8_t* reply);
};

// The HID bus: units and other HID devices, in enumeration order.
class SimHidHost : public HidHost {
public:
    explicit SimHidHost(Clock& clock);
    ~SimHidHost() override;

    // Adds a programming unit (or anything answering like one) at the end of the bus.
    SimulatedUnit& Plug(const std::wstring& path, const SimConfig& config);
    // Adds a HID device that is not a unit and answers nothing.
    void PlugOther(const std::wstring& path, std::uint16_t vendorId, std::uint16_t productId);
    // Takes a device off the bus; its open handles fail from then on.
    void Unplug(const std::wstring& path);
    SimulatedUnit* Unit(const std::wstring& path);

    bool listFails = false;                 // GetInterfaceList returns null
    std::vector<std::wstring> unopenable;   // paths whose Open fails
    std::vector<std::wstring> noPath;       // paths whose detail record cannot be read
    bool capabilitiesFail = false;

    // Called with a fault's lastError when a write or read fails.
    std::function<void(std::uint32_t)> setLastError;

    // Handles that are open now, for leak checks.
    std::size_t OpenHandleCount() const;
    std::vector<std::wstring> opened;  // every path opened, in order

    HidInterfaceList* GetInterfaceList() override;
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override;
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override;
    void DestroyInterfaceList(HidInterfaceList* list) override;
    DeviceHandle Open(const std::wstring& path) override;
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
    bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) override;
    bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
               std::uint32_t timeoutMs) override;
    bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
              std::uint32_t timeoutMs) override;
    void Close(DeviceHandle handle) override;

    std::size_t ListCount() const;  // enumeration lists not yet destroyed

private:
    struct Device;
    struct OpenFile;
    Clock& clock_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::map<DeviceHandle, OpenFile> files_;
    DeviceHandle nextHandle_ = 100;
    std::size_t lists_ = 0;
};

// A clock for tests: Sleep advances time at once and is recorded.
class FakeClock : public Clock {
public:
    std::uint64_t now = 1'000'000;
    std::uint32_t lastError = 0;
    std::vector<std::uint32_t> sleeps;
    void Sleep(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += std::uint64_t{ms} * 1000;
    }
    std::uint64_t NowMicros() override { return now; }
    std::uint32_t LastError() override { return lastError; }
};

// Named set-ups of the simulated unit, shared by the demo and the simulated build.
// Fills host with the scenario's devices; false for an unknown name.
bool LoadSimScenario(const std::string& name, SimHidHost& host);
