// A simulated programming unit with an ESC behind it, served through the HID host seam.
// It stands in for the hardware in the tests, in the demo and in the simulated build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
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

// Error codes the simulated unit puts into its error replies (status 0xFF, bytes 4..7).
constexpr std::uint32_t SIM_ERROR_UNKNOWN_COMMAND = 0x0101;
constexpr std::uint32_t SIM_ERROR_REFUSED = 0x0102;       // guard, lock or protection missing
constexpr std::uint32_t SIM_ERROR_NO_ESC = 0x0103;        // no ESC ready behind the unit
constexpr std::uint32_t SIM_ERROR_OUT_OF_RANGE = 0x0104;  // block past the end of flash, bad length
constexpr std::uint32_t SIM_ERROR_BLOCK_FAILED = 0x0105;  // used by the block-fails scenario

// Platform error values the simulated bus leaves behind (the Windows numbers).
constexpr std::uint32_t SIM_LAST_ERROR_INVALID_HANDLE = 6;
constexpr std::uint32_t SIM_LAST_ERROR_GEN_FAILURE = 31;
constexpr std::uint32_t SIM_LAST_ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr std::uint32_t SIM_LAST_ERROR_TIMEOUT = 1460;

// A fault injected into one exchange.
struct SimFault {
    enum class Kind {
        None,
        WriteFails,  // the request is not written (and not recorded)
        ReadFails,   // the request is taken and carried out, the reply read fails
        ErrorReply,  // the request is refused: status 0xFF with errorCode
        NoReply,     // the request is taken and carried out, no reply ever comes (the read
                     // waits its timeout on the clock, then fails)
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
    std::uint32_t blocksWritten = 0;  // CMD_WRITE_BLOCK carried out since the last erase
    // The application firmware version the unit reports now: config.escFirmwareVersion at
    // first, 0xFFFF after an erase, config.versionAfterUpdate once protection is set again
    // after blocks were written.
    std::uint16_t firmwareVersion;

    // Faults are looked up in this order; the first that matches applies.
    // 1. By exchange index: the n-th request written to this unit, from 0 (write
    //    attempts count, so a WriteFails still takes its index).
    std::map<std::size_t, SimFault> faults;
    // 2. By command and occurrence: {CMD_WRITE_BLOCK, 199} is the 200th block request.
    std::map<std::pair<std::uint8_t, std::uint32_t>, SimFault> commandFaults;
    // 3. Every other exchange (a silent unit: NoReply here).
    SimFault everyExchangeFault;
    // Delays before a reply arrives, by exchange index, else the default. A delay longer
    // than the reader's timeout is a read that fails after the timeout.
    std::map<std::size_t, std::uint32_t> replyDelayMs;
    std::uint32_t defaultReplyDelayMs = 0;
    // The unit drops off the bus when it receives this CMD_WRITE_BLOCK (occurrence from
    // 0): that write and every later write or read fails with ERROR_DEVICE_NOT_CONNECTED,
    // and the host's onUnplug is called. Never when left at its default.
    std::uint32_t unplugAtBlock = UINT32_MAX;
    // Another ESC (escAfterSwap) is connected just before the unit takes this
    // CMD_IDENTIFY (occurrence from 0), as a user swapping ESCs between two checks would.
    std::uint32_t swapEscAtIdentify = UINT32_MAX;
    SimConfig escAfterSwap;
    // Called with each request and the reply built for it (faults applied), to craft
    // replies the unit would not send.
    std::function<void(const std::uint8_t* request, std::uint8_t* reply)> editReply;

    // Every request received, in order.
    std::vector<SimRequest> requests;
    // Write attempts so far, in all and per command.
    std::size_t exchanges = 0;
    std::map<std::uint8_t, std::uint32_t> commandCount;

    // Another ESC connected to the unit's cable in place of this one: the ESC fields of
    // esc (state, ids, versions) with a fresh flash state. Nothing happens on the USB bus.
    void ConnectEsc(const SimConfig& esc);

    // Builds the reply to a request as the unit would (no faults applied), and carries
    // the command out.
    void Answer(const std::uint8_t* request, std::uint8_t* reply);
    // The fault for the exchange with this index, command and occurrence.
    SimFault FaultFor(std::size_t index, std::uint8_t command, std::uint32_t occurrence) const;
    // The commands received, in order.
    std::vector<std::uint8_t> Commands() const;
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
    // Takes a device off the bus; its open handles fail from then on. Calls onUnplug.
    void Unplug(const std::wstring& path);
    // The unit on the bus at path, or null.
    SimulatedUnit* Unit(const std::wstring& path);
    // The first unit on the bus, or null; its path in *path when given.
    SimulatedUnit* FirstUnit(std::wstring* path = nullptr);
    // Paths on the bus now, in enumeration order.
    std::vector<std::wstring> Paths() const;

    bool listFails = false;                 // GetInterfaceList returns null
    std::vector<std::wstring> unopenable;   // paths whose Open is refused: access denied
    std::vector<std::wstring> held;         // paths another program holds open: in use
    std::vector<std::wstring> noPath;       // paths whose detail record cannot be read
    bool capabilitiesFail = false;

    // Called with a fault's lastError when a write or read fails.
    std::function<void(std::uint32_t)> setLastError;
    // Called with the path of a device that has left the bus, by Unplug or because a
    // unit dropped off during a write (then from inside that Write).
    std::function<void(const std::wstring&)> onUnplug;

    // Handles that are open now, for leak checks.
    std::size_t OpenHandleCount() const;
    std::vector<std::wstring> opened;  // every path opened, in order
    // Calls of the report and close operations, whatever their outcome.
    std::size_t writeCalls = 0;
    std::size_t readCalls = 0;
    std::size_t closeCalls = 0;

    HidInterfaceList* GetInterfaceList() override;
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override;
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override;
    void DestroyInterfaceList(HidInterfaceList* list) override;
    // The ids of a listed device still on the bus.
    bool GetListedAttributes(HidInterfaceList* list, std::uint32_t index,
                             HidAttributes& attributes) override;
    DeviceHandle Open(const std::wstring& path) override;
    bool LastOpenDenied() override { return lastOpenDenied_; }
    bool LastOpenBusy() override { return lastOpenBusy_; }
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
    struct PendingReply;
    using PathList = std::vector<std::wstring>;
    Device* Find(const std::wstring& path) const;
    OpenFile* File(DeviceHandle handle);
    void TakeOff(Device& device);
    bool Succeed();
    bool Fail(std::uint32_t lastError);
    Clock& clock_;
    std::vector<std::unique_ptr<Device>> devices_;  // unplugged ones stay, off the bus
    std::map<DeviceHandle, std::unique_ptr<OpenFile>> files_;
    DeviceHandle nextHandle_ = 100;
    bool lastOpenDenied_ = false;
    bool lastOpenBusy_ = false;
    std::vector<std::unique_ptr<PathList>> lists_;
};

// A clock for tests: Sleep advances time at once and is recorded.
class FakeClock : public Clock {
public:
    std::uint64_t now = 1'000'000;
    std::uint32_t lastError = 0;
    std::vector<std::uint32_t> sleeps;
    // Runs at the end of each wait, as the messages a real wait delivers would.
    std::function<void()> duringSleep;
    void Sleep(std::uint32_t ms) override {
        sleeps.push_back(ms);
        now += std::uint64_t{ms} * 1000;
        if (duringSleep) {
            duringSleep();
        }
    }
    std::uint64_t NowMicros() override { return now; }
    std::uint32_t LastError() override { return lastError; }
};

// Named set-ups of the simulated unit, shared by the tests, the demo and the simulated
// build. Plugs the scenario's unit (if any) at the end of host's bus at
// SimUnitPath(productId, instance); false for an unknown name, host then unchanged.
//   none                    no device at all
//   ready                   TUNE-BOX, accepted ESC 0x111F408C, firmware 0x0302
//   ready-alt               as ready, the other accepted ESC 0x0A06408C
//   puck                    TUNEPUCK, else as ready
//   wrong-mode              the unit in its other mode (unitMode 1)
//   no-esc                  no ESC ready behind the unit (escState 2)
//   foreign-esc             ESC hardware id 0x12345678
//   no-firmware             ESC without application firmware (0xFFFF)
//   newer                   ESC firmware 0x0303 already
//   lock-refused            the unit refuses its system lock
//   erase-fails             CMD_ERASE answered with error 0x0102
//   block-fails             the 200th CMD_WRITE_BLOCK answered with error 0x0105
//   unplug-during-transfer  the unit drops off the bus at the 301st CMD_WRITE_BLOCK
//   silent                  the unit never replies (each read times out)
//   esc-boot-error          as ready, but every CMD_READ_ESC_BOOT_INFO is answered with
//                           error 5: the unit is opened, its identification fails
//   no-permission           as ready, but opening it is refused for want of permission
//   in-use                  as ready, but another program holds the unit open
//   esc-swapped             as ready when first identified; from the second
//                           identification on a foreign ESC (0x12345678) is behind the unit,
//                           connected without any USB event
//   esc-swapped-in-sequence as esc-swapped, from the third identification on (the update's
//                           check once the questions were answered)
bool LoadSimScenario(const std::string& name, SimHidHost& host, unsigned instance = 0);
// The scenario names above, in that order.
std::vector<std::string> SimScenarioNames();
// A device interface path of the form Windows gives a unit with this product id.
std::wstring SimUnitPath(std::uint16_t productId, unsigned instance = 0);
