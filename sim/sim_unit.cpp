// The simulated programming unit and the HID bus it sits on.
#include "sim/sim_unit.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

template <typename T>
void Put(std::uint8_t* report, std::size_t byte, T value) {
    std::memcpy(report + byte, &value, sizeof value);
}

template <typename T>
T Get(const std::uint8_t* report, std::size_t byte) {
    T value;
    std::memcpy(&value, report + byte, sizeof value);
    return value;
}

void MakeErrorReply(std::uint8_t* reply, std::uint32_t code) {
    reply[1] = STATUS_ERROR;
    Put<std::uint32_t>(reply, 4, code);
}

// Fill of the flash before any erase, so that an erase is visible.
constexpr std::uint8_t OLD_FIRMWARE_FILL = 0x5A;
constexpr std::uint8_t ERASED = 0xFF;
constexpr std::uint8_t OTHER_DEVICE_REPORT_LENGTH = 9;

}  // namespace

SimulatedUnit::SimulatedUnit(const SimConfig& unitConfig)
    : config(unitConfig),
      flash(unitConfig.flashSize,
            unitConfig.escFirmwareVersion == 0xFFFF ? ERASED : OLD_FIRMWARE_FILL),
      firmwareVersion(unitConfig.escFirmwareVersion) {}

SimFault SimulatedUnit::FaultFor(std::size_t index, std::uint8_t command,
                                 std::uint32_t occurrence) const {
    if (auto it = faults.find(index); it != faults.end()) {
        return it->second;
    }
    if (auto it = commandFaults.find({command, occurrence}); it != commandFaults.end()) {
        return it->second;
    }
    return everyExchangeFault;
}

std::vector<std::uint8_t> SimulatedUnit::Commands() const {
    std::vector<std::uint8_t> commands;
    for (const SimRequest& request : requests) {
        commands.push_back(request.bytes[1]);
    }
    return commands;
}

void SimulatedUnit::ConnectEsc(const SimConfig& esc) {
    config.escState = esc.escState;
    config.escAuxWord = esc.escAuxWord;
    config.escHardwareId = esc.escHardwareId;
    config.escBootloaderVersion = esc.escBootloaderVersion;
    config.escFirmwareVersion = esc.escFirmwareVersion;
    config.versionAfterUpdate = esc.versionAfterUpdate;
    firmwareVersion = esc.escFirmwareVersion;
    std::fill(flash.begin(), flash.end(), esc.escFirmwareVersion == 0xFFFF ? ERASED : OLD_FIRMWARE_FILL);
    writeProtected = true;
    address = 0;
    blocksWritten = 0;
}

void SimulatedUnit::Answer(const std::uint8_t* request, std::uint8_t* reply) {
    std::memset(reply, 0, REPORT_SIZE);
    reply[0] = REPORT_ID_REPLY;
    reply[2] = REPORT_SIZE - 4;
    const std::uint8_t command = request[1];
    const std::uint8_t length = request[2];
    const std::uint8_t argument = request[3];
    const std::uint8_t* data = request + 4;
    // Commands for the ESC need one behind the unit, and the unit in its normal mode.
    const bool escReady = config.unitMode == 0 && config.escState == 3;

    switch (command) {
    case CMD_IDENTIFY:
        reply[3] = config.unitMode;
        if (config.unitMode == 0) {
            Put<std::uint16_t>(reply, 4, config.escState);
            Put<std::uint16_t>(reply, 6, config.escAuxWord);
            Put<std::uint32_t>(reply, 8, config.unitFirmwareVersion);
            Put<std::uint32_t>(reply, 12, config.unitInfoWord);
        } else {
            Put<std::uint8_t>(reply, 4, config.unitBootInfo.bootInfoA);
            Put<std::uint16_t>(reply, 5, config.unitBootInfo.bootInfoB);
            Put<std::uint32_t>(reply, 7, config.unitBootInfo.bootInfoC);
            Put<std::uint32_t>(reply, 11, config.unitBootInfo.bootInfoD);
            Put<std::uint8_t>(reply, 15, config.unitBootInfo.bootInfoE);
        }
        return;
    case CMD_READ_UNIT_MEMORY:
        // Echoes the address it read from, then the two words stored there.
        std::memcpy(reply + 4, data, 4);
        Put<std::uint32_t>(reply, 8, config.unitMemoryFirmwareVersion);
        Put<std::uint32_t>(reply, 12, config.unitInfoWord);
        return;
    case CMD_READ_ESC_APP_INFO:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        // The block's first word is its size; the version follows at its bytes 4..5.
        Put<std::uint32_t>(reply, 4, 32);
        Put<std::uint16_t>(reply, 8, firmwareVersion);
        for (std::size_t i = 10; i < 36; ++i) {
            reply[i] = static_cast<std::uint8_t>(i);
        }
        return;
    case CMD_READ_ESC_BOOT_INFO:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        Put<std::uint32_t>(reply, 4, config.escHardwareId);
        Put<std::uint32_t>(reply, 8, config.escBootloaderVersion);
        for (std::size_t i = 12; i < 44; ++i) {
            reply[i] = static_cast<std::uint8_t>(0x80 + i);
        }
        return;
    case CMD_SYSTEM_LOCK:
        if (argument == 1) {
            systemLock = config.lockAccepted;
            reply[3] = systemLock ? 1 : 0;
        } else {
            systemLock = false;
        }
        return;
    case CMD_WRITE_PROTECT:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        if (argument == 0) {
            if (systemLock) {
                writeProtected = false;
            } else {
                reply[3] = 1;
            }
        } else {
            writeProtected = true;
            if (blocksWritten > 0) {
                firmwareVersion = config.versionAfterUpdate;
            }
        }
        return;
    case CMD_ERASE:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        if (Get<std::uint32_t>(data, 0) != LINK_GUARD || !systemLock || writeProtected) {
            MakeErrorReply(reply, SIM_ERROR_REFUSED);
            return;
        }
        std::fill(flash.begin(), flash.end(), ERASED);
        firmwareVersion = 0xFFFF;
        address = 0;
        blocksWritten = 0;
        return;
    case CMD_SET_ADDRESS:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        if (Get<std::uint32_t>(data, 4) != LINK_GUARD) {
            MakeErrorReply(reply, SIM_ERROR_REFUSED);
            return;
        }
        address = Get<std::uint32_t>(data, 0);
        return;
    case CMD_WRITE_BLOCK:
        if (!escReady) {
            MakeErrorReply(reply, SIM_ERROR_NO_ESC);
            return;
        }
        if (writeProtected) {
            MakeErrorReply(reply, SIM_ERROR_REFUSED);
            return;
        }
        if (length > REPORT_SIZE - 4 || length % 4 != 0 || address > flash.size() ||
            flash.size() - address < length) {
            MakeErrorReply(reply, SIM_ERROR_OUT_OF_RANGE);
            return;
        }
        std::memcpy(flash.data() + address, data, length);
        address += length;
        ++blocksWritten;
        return;
    default:
        MakeErrorReply(reply, SIM_ERROR_UNKNOWN_COMMAND);
        return;
    }
}

struct SimHidHost::Device {
    std::wstring path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool present = true;
    std::unique_ptr<SimulatedUnit> unit;  // null: a HID device that is not a unit
};

struct SimHidHost::PendingReply {
    std::uint8_t bytes[REPORT_SIZE];
    std::size_t requestIndex;
    SimFault fault;
    std::uint32_t delayMs;
};

struct SimHidHost::OpenFile {
    Device* device;
    std::optional<PendingReply> pending;  // the reply to the last request, until read
};

SimHidHost::SimHidHost(Clock& clock) : clock_(clock) {}

SimHidHost::~SimHidHost() = default;

SimulatedUnit& SimHidHost::Plug(const std::wstring& path, const SimConfig& config) {
    auto device = std::make_unique<Device>();
    device->path = path;
    device->unit = std::make_unique<SimulatedUnit>(config);
    SimulatedUnit& unit = *device->unit;
    devices_.push_back(std::move(device));
    return unit;
}

void SimHidHost::PlugOther(const std::wstring& path, std::uint16_t vendorId,
                           std::uint16_t productId) {
    auto device = std::make_unique<Device>();
    device->path = path;
    device->vendorId = vendorId;
    device->productId = productId;
    devices_.push_back(std::move(device));
}

void SimHidHost::TakeOff(Device& device) {
    device.present = false;
    if (onUnplug) {
        onUnplug(device.path);
    }
}

void SimHidHost::Unplug(const std::wstring& path) {
    if (Device* device = Find(path)) {
        TakeOff(*device);
    }
}

SimHidHost::Device* SimHidHost::Find(const std::wstring& path) const {
    for (const auto& device : devices_) {
        if (device->present && device->path == path) {
            return device.get();
        }
    }
    return nullptr;
}

SimulatedUnit* SimHidHost::Unit(const std::wstring& path) {
    Device* device = Find(path);
    return device ? device->unit.get() : nullptr;
}

SimulatedUnit* SimHidHost::FirstUnit(std::wstring* path) {
    for (const auto& device : devices_) {
        if (device->present && device->unit) {
            if (path) {
                *path = device->path;
            }
            return device->unit.get();
        }
    }
    return nullptr;
}

std::vector<std::wstring> SimHidHost::Paths() const {
    std::vector<std::wstring> paths;
    for (const auto& device : devices_) {
        if (device->present) {
            paths.push_back(device->path);
        }
    }
    return paths;
}

std::size_t SimHidHost::OpenHandleCount() const { return files_.size(); }

std::size_t SimHidHost::ListCount() const { return lists_.size(); }

SimHidHost::OpenFile* SimHidHost::File(DeviceHandle handle) {
    auto it = files_.find(handle);
    return it == files_.end() ? nullptr : it->second.get();
}

// Like the platform's transfers, a completed one leaves no error behind.
bool SimHidHost::Succeed() {
    if (setLastError) {
        setLastError(0);
    }
    return true;
}

bool SimHidHost::Fail(std::uint32_t lastError) {
    if (setLastError) {
        setLastError(lastError);
    }
    return false;
}

HidInterfaceList* SimHidHost::GetInterfaceList() {
    if (listFails) {
        return nullptr;
    }
    // Like the platform's list, a snapshot: devices that leave later keep their entry.
    lists_.push_back(std::make_unique<PathList>(Paths()));
    return reinterpret_cast<HidInterfaceList*>(lists_.back().get());
}

bool SimHidHost::HasInterface(HidInterfaceList* list, std::uint32_t index) {
    return index < reinterpret_cast<PathList*>(list)->size();
}

bool SimHidHost::GetInterfacePath(HidInterfaceList* list, std::uint32_t index,
                                  std::wstring& path) {
    const PathList& paths = *reinterpret_cast<PathList*>(list);
    if (index >= paths.size() ||
        std::find(noPath.begin(), noPath.end(), paths[index]) != noPath.end()) {
        return false;
    }
    path = paths[index];
    return true;
}

void SimHidHost::DestroyInterfaceList(HidInterfaceList* list) {
    std::erase_if(lists_, [list](const std::unique_ptr<PathList>& held) {
        return reinterpret_cast<HidInterfaceList*>(held.get()) == list;
    });
}

bool SimHidHost::GetListedAttributes(HidInterfaceList* list, std::uint32_t index,
                                     HidAttributes& attributes) {
    const PathList& paths = *reinterpret_cast<PathList*>(list);
    const Device* device = index < paths.size() ? Find(paths[index]) : nullptr;
    if (device == nullptr) {
        return false;
    }
    attributes.vendorId = device->unit ? device->unit->config.vendorId : device->vendorId;
    attributes.productId = device->unit ? device->unit->config.productId : device->productId;
    return true;
}

DeviceHandle SimHidHost::Open(const std::wstring& path) {
    Device* device = Find(path);
    lastOpenDenied_ = false;
    lastOpenBusy_ = false;
    if (device == nullptr) {
        Fail(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
        return NO_DEVICE_HANDLE;
    }
    if (std::find(unopenable.begin(), unopenable.end(), path) != unopenable.end()) {
        lastOpenDenied_ = true;
        Fail(5);  // access denied
        return NO_DEVICE_HANDLE;
    }
    if (std::find(held.begin(), held.end(), path) != held.end()) {
        lastOpenBusy_ = true;
        Fail(32);  // a sharing violation
        return NO_DEVICE_HANDLE;
    }
    const DeviceHandle handle = nextHandle_++;
    files_[handle] = std::make_unique<OpenFile>(OpenFile{device, std::nullopt});
    opened.push_back(path);
    return handle;
}

bool SimHidHost::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    OpenFile* file = File(handle);
    if (file == nullptr || !file->device->present) {
        return false;
    }
    const Device& device = *file->device;
    attributes.vendorId = device.unit ? device.unit->config.vendorId : device.vendorId;
    attributes.productId = device.unit ? device.unit->config.productId : device.productId;
    return true;
}

bool SimHidHost::GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) {
    OpenFile* file = File(handle);
    if (capabilitiesFail || file == nullptr || !file->device->present) {
        return false;
    }
    const Device& device = *file->device;
    lengths.outputReportByteLength =
        device.unit ? device.unit->config.outReportLength : OTHER_DEVICE_REPORT_LENGTH;
    lengths.inputReportByteLength =
        device.unit ? device.unit->config.inReportLength : OTHER_DEVICE_REPORT_LENGTH;
    return true;
}

bool SimHidHost::Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
                       std::uint32_t /*timeoutMs*/) {
    ++writeCalls;
    OpenFile* file = File(handle);
    if (file == nullptr) {
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    }
    file->pending.reset();
    Device& device = *file->device;
    if (!device.present) {
        return Fail(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
    }
    if (!device.unit) {
        return Fail(SIM_LAST_ERROR_GEN_FAILURE);
    }
    // Every byte the caller claims is taken, so that a caller overrunning its buffer shows.
    const std::vector<std::uint8_t> wire(report, report + length);
    SimRequest request{};
    std::copy_n(wire.begin(), std::min<std::size_t>(wire.size(), REPORT_SIZE), request.bytes);
    request.length = length;

    SimulatedUnit& unit = *device.unit;
    const std::uint8_t command = request.bytes[1];
    const std::size_t index = unit.exchanges++;
    const std::uint32_t occurrence = unit.commandCount[command]++;
    if (command == CMD_WRITE_BLOCK && occurrence >= unit.unplugAtBlock) {
        TakeOff(device);
        return Fail(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
    }
    const SimFault fault = unit.FaultFor(index, command, occurrence);
    if (fault.kind == SimFault::Kind::WriteFails) {
        return Fail(fault.lastError);
    }

    if (command == CMD_IDENTIFY && occurrence == unit.swapEscAtIdentify) {
        unit.ConnectEsc(unit.escAfterSwap);
    }

    request.writtenAtMicros = clock_.NowMicros();
    unit.requests.push_back(request);
    PendingReply pending{};
    pending.requestIndex = unit.requests.size() - 1;
    pending.fault = fault;
    auto delay = unit.replyDelayMs.find(index);
    pending.delayMs = delay != unit.replyDelayMs.end() ? delay->second : unit.defaultReplyDelayMs;
    if (fault.kind == SimFault::Kind::ErrorReply) {
        std::memset(pending.bytes, 0, REPORT_SIZE);
        pending.bytes[0] = REPORT_ID_REPLY;
        MakeErrorReply(pending.bytes, fault.errorCode);
    } else {
        unit.Answer(request.bytes, pending.bytes);
    }
    if (unit.editReply) {
        unit.editReply(request.bytes, pending.bytes);
    }
    file->pending = pending;
    return Succeed();
}

bool SimHidHost::Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length,
                      std::uint32_t timeoutMs) {
    ++readCalls;
    OpenFile* file = File(handle);
    if (file == nullptr) {
        return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
    }
    std::optional<PendingReply> pending = std::move(file->pending);
    file->pending.reset();
    if (!file->device->present) {
        return Fail(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
    }
    if (!pending) {
        clock_.Sleep(timeoutMs);
        return Fail(SIM_LAST_ERROR_TIMEOUT);
    }
    switch (pending->fault.kind) {
    case SimFault::Kind::ReadFails:
        return Fail(pending->fault.lastError);
    case SimFault::Kind::NoReply:
        clock_.Sleep(timeoutMs);
        return Fail(pending->fault.lastError);
    default:
        break;
    }
    if (pending->delayMs > timeoutMs) {
        clock_.Sleep(timeoutMs);
        return Fail(SIM_LAST_ERROR_TIMEOUT);
    }
    if (pending->delayMs > 0) {
        clock_.Sleep(pending->delayMs);
        // The wait may let the bus change: a unit taken off meanwhile sends nothing more.
        file = File(handle);
        if (file == nullptr) {
            return Fail(SIM_LAST_ERROR_INVALID_HANDLE);
        }
        if (!file->device->present) {
            return Fail(SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
        }
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        report[i] = i < REPORT_SIZE ? pending->bytes[i] : 0;
    }
    std::vector<SimRequest>& requests = file->device->unit->requests;
    if (pending->requestIndex < requests.size()) {
        requests[pending->requestIndex].readAtMicros = clock_.NowMicros();
    }
    return Succeed();
}

void SimHidHost::Close(DeviceHandle handle) {
    ++closeCalls;
    files_.erase(handle);
}
