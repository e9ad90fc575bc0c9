// Named set-ups of the simulated unit.
#include <algorithm>
#include <array>
#include <string_view>

#include "sim/sim_unit.h"

namespace {

struct Scenario {
    std::string_view name;
    bool hasUnit;
    void (*configure)(SimConfig& config);
    void (*arm)(SimulatedUnit& unit);  // faults, once the unit is on the bus
};

void Keep(SimConfig&) {}
void NoFaults(SimulatedUnit&) {}

SimFault ErrorReply(std::uint32_t code) {
    SimFault fault;
    fault.kind = SimFault::Kind::ErrorReply;
    fault.errorCode = code;
    return fault;
}

constexpr std::uint32_t FOREIGN_HARDWARE_ID = 0x12345678;

// Every CMD_READ_ESC_BOOT_INFO is refused with this code, however often the unit is asked.
constexpr std::uint32_t BOOT_INFO_ERROR = 5;

void RefuseBootInfo(SimulatedUnit& unit) {
    unit.editReply = [](const std::uint8_t* request, std::uint8_t* reply) {
        if (request[1] == CMD_READ_ESC_BOOT_INFO) {
            std::fill(reply + 1, reply + REPORT_SIZE, std::uint8_t{0});
            reply[1] = STATUS_ERROR;
            for (int i = 0; i < 4; ++i) {
                reply[4 + i] = static_cast<std::uint8_t>(BOOT_INFO_ERROR >> (8 * i));
            }
        }
    };
}

// The ESC of the foreign-esc scenario takes the place of the accepted one.
void SwapToForeignEscAtSecondIdentification(SimulatedUnit& unit) {
    unit.swapEscAtIdentify = 1;
    unit.escAfterSwap.escHardwareId = FOREIGN_HARDWARE_ID;
}

// The same, just before the third identification: the first step of the update's
// sequence, once the questions were answered.
void SwapToForeignEscAtThirdIdentification(SimulatedUnit& unit) {
    unit.swapEscAtIdentify = 2;
    unit.escAfterSwap.escHardwareId = FOREIGN_HARDWARE_ID;
}

const std::array<Scenario, 19> scenarios = {{
    {"none", false, Keep, NoFaults},
    {"ready", true, Keep, NoFaults},
    {"ready-alt", true, [](SimConfig& c) { c.escHardwareId = 0x0A06408C; }, NoFaults},
    {"puck", true, [](SimConfig& c) { c.productId = PRODUCT_TUNEPUCK; }, NoFaults},
    {"wrong-mode", true, [](SimConfig& c) { c.unitMode = 1; }, NoFaults},
    {"no-esc", true, [](SimConfig& c) { c.escState = 2; }, NoFaults},
    {"foreign-esc", true, [](SimConfig& c) { c.escHardwareId = FOREIGN_HARDWARE_ID; }, NoFaults},
    {"no-firmware", true, [](SimConfig& c) { c.escFirmwareVersion = 0xFFFF; }, NoFaults},
    {"newer", true, [](SimConfig& c) { c.escFirmwareVersion = 0x0303; }, NoFaults},
    {"lock-refused", true, [](SimConfig& c) { c.lockAccepted = false; }, NoFaults},
    {"erase-fails", true, Keep,
     [](SimulatedUnit& u) { u.commandFaults[{CMD_ERASE, 0}] = ErrorReply(SIM_ERROR_REFUSED); }},
    {"block-fails", true, Keep,
     [](SimulatedUnit& u) {
         u.commandFaults[{CMD_WRITE_BLOCK, 199}] = ErrorReply(SIM_ERROR_BLOCK_FAILED);
     }},
    {"unplug-during-transfer", true, Keep, [](SimulatedUnit& u) { u.unplugAtBlock = 300; }},
    {"silent", true, Keep,
     [](SimulatedUnit& u) {
         u.everyExchangeFault.kind = SimFault::Kind::NoReply;
         u.everyExchangeFault.lastError = SIM_LAST_ERROR_TIMEOUT;
     }},
    {"esc-boot-error", true, Keep, RefuseBootInfo},
    {"no-permission", true, Keep, NoFaults},
    {"in-use", true, Keep, NoFaults},
    {"esc-swapped", true, Keep, SwapToForeignEscAtSecondIdentification},
    {"esc-swapped-in-sequence", true, Keep, SwapToForeignEscAtThirdIdentification},
}};

void AppendHex4(std::wstring& text, std::uint16_t value) {
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += digits[(value >> shift) & 0xF];
    }
}

}  // namespace

std::wstring SimUnitPath(std::uint16_t productId, unsigned instance) {
    std::wstring path = L"\\\\?\\hid#vid_";
    AppendHex4(path, UNIT_VENDOR_ID);
    path += L"&pid_";
    AppendHex4(path, productId);
    path += L"#7&1a2b3c4d&" + std::to_wstring(instance) +
            L"&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    return path;
}

std::vector<std::string> SimScenarioNames() {
    std::vector<std::string> names;
    for (const Scenario& scenario : scenarios) {
        names.emplace_back(scenario.name);
    }
    return names;
}

bool LoadSimScenario(const std::string& name, SimHidHost& host, unsigned instance) {
    for (const Scenario& scenario : scenarios) {
        if (scenario.name != name) {
            continue;
        }
        if (scenario.hasUnit) {
            SimConfig config;
            scenario.configure(config);
            const std::wstring path = SimUnitPath(config.productId, instance);
            scenario.arm(host.Plug(path, config));
            if (scenario.name == "no-permission") {
                host.unopenable.push_back(path);
            }
            if (scenario.name == "in-use") {
                host.held.push_back(path);
            }
        }
        return true;
    }
    return false;
}
