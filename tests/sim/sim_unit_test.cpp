// The simulated unit: the behaviour the update and the dialog are tried against.
#include <functional>
#include <string>

#include "tests/link/link_fixture.h"

namespace {

using SimUnitTest = LinkTest;

struct Outcome {
    std::int32_t code;
    std::uint8_t status;
    std::uint8_t result;
};

Outcome Send(std::uint8_t command, std::uint8_t length, std::uint8_t argument,
             std::initializer_list<std::uint32_t> words = {}) {
    RequestReport request = RequestWith(command, length, argument, words);
    ReplyReport reply;
    const std::int32_t code = ReportExchange(deviceSession, request, reply);
    return {code, reply.status, reply.result};
}

Outcome Lock(std::uint8_t on) { return Send(CMD_SYSTEM_LOCK, 1, on); }
Outcome Protect(std::uint8_t on) { return Send(CMD_WRITE_PROTECT, 1, on); }
Outcome SetAddress(std::uint32_t address, std::uint32_t guard = LINK_GUARD) {
    return Send(CMD_SET_ADDRESS, 9, 1, {address, guard});
}

std::array<std::uint8_t, 48> Block(std::uint8_t seed) {
    std::array<std::uint8_t, 48> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(seed + i);
    }
    return block;
}

TEST_F(SimUnitTest, AnUpdateThroughTheLinkRewritesTheFlashAndTheReportedVersion) {
    SimulatedUnit& unit = OpenedUnit();
    EXPECT_EQ(Lock(1).result, 1);
    EXPECT_EQ(Protect(0).result, 0);
    ASSERT_EQ(EraseFirmware(deviceSession), LINK_OK);
    EXPECT_TRUE(std::all_of(unit.flash.begin(), unit.flash.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(SetAddress(0).code, LINK_OK);
    const auto first = Block(0x10);
    const auto last = Block(0x80);
    ASSERT_EQ(WriteBlock(deviceSession, first.data(), 12), LINK_OK);
    ASSERT_EQ(WriteBlock(deviceSession, last.data(), 8), LINK_OK);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), unit.flash.begin()));
    EXPECT_TRUE(std::equal(last.begin(), last.begin() + 32, unit.flash.begin() + 48));
    EXPECT_EQ(unit.flash[80], 0xFF) << "only the counted words of a short block are written";
    Protect(1);
    Lock(0);
    EXPECT_FALSE(unit.systemLock);
    EXPECT_TRUE(unit.writeProtected);

    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, unit.config.versionAfterUpdate);
}

struct RefusalCase {
    const char* name;
    std::function<void(SimConfig&)> configure;
    std::function<Outcome()> run;
    std::int32_t code;
    std::uint8_t result;
};

TEST_F(SimUnitTest, TheUnitRefusesWhatItWouldRefuse) {
    const auto block = Block(0);
    auto erase = [] { return Outcome{EraseFirmware(deviceSession), 0, 0}; };
    auto write = [block] { return Outcome{WriteBlock(deviceSession, block.data(), 12), 0, 0}; };
    auto unlocked = [](std::function<Outcome()> then) {
        return [then] {
            Lock(1);
            Protect(0);
            return then();
        };
    };
    const RefusalCase cases[] = {
        {"lock refused", [](SimConfig& c) { c.lockAccepted = false; }, [] { return Lock(1); }, 0, 0},
        {"protection kept without the lock", {}, [] { return Protect(0); }, 0, 1},
        {"protection kept when the lock was refused", [](SimConfig& c) { c.lockAccepted = false; },
         [] { Lock(1); return Protect(0); }, 0, 1},
        {"erase without lock", {}, erase, 0x0102, 0},
        {"erase while protected", {}, [erase] { Lock(1); return erase(); }, 0x0102, 0},
        {"erase with the ESC gone", [](SimConfig& c) { c.escState = 2; }, unlocked(erase), 0x0103, 0},
        {"block while protected", {}, write, 0x0102, 0},
        {"address without guard", {}, [] { return SetAddress(0, 0); }, 0x0102, 0},
        {"block past the end of flash", {},
         unlocked([write] { SetAddress(0x20000 - 16); return write(); }), 0x0104, 0},
        {"unknown command", {}, [] { return Send(0x42, 0, 0); }, 0x0101, 0},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        SimConfig config;
        if (c.configure) c.configure(config);
        SimulatedUnit& unit = bus.Plug(SimUnitPath(config.productId), config);
        ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
        const std::vector<std::uint8_t> flashBefore = unit.flash;

        const Outcome outcome = c.run();
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(unit.flash, flashBefore);
        EXPECT_EQ(unit.firmwareVersion, config.escFirmwareVersion);
    }
}

TEST_F(SimUnitTest, AnUnpluggedUnitFailsItsHandlesAndLeavesTheBus) {
    SimulatedUnit& unit = OpenedUnit();
    std::vector<std::wstring> gone;
    host.onUnplug = [&gone](const std::wstring& path) { gone.push_back(path); };
    unit.unplugAtBlock = unit.commandCount[CMD_WRITE_BLOCK] + 2;
    const auto block = Block(0);
    Lock(1);
    Protect(0);
    EXPECT_EQ(WriteBlock(deviceSession, block.data(), 12), LINK_OK);
    EXPECT_EQ(WriteBlock(deviceSession, block.data(), 12), LINK_OK);
    EXPECT_TRUE(gone.empty());
    EXPECT_EQ(WriteBlock(deviceSession, block.data(), 12), LINK_WRITE_FAILED);
    EXPECT_EQ(clock.lastError, SIM_LAST_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(gone, std::vector<std::wstring>{SimUnitPath(PRODUCT_TUNE_BOX)});
    EXPECT_EQ(EraseFirmware(deviceSession), LINK_WRITE_FAILED);
    EXPECT_EQ(host.FirstUnit(), nullptr);
    EXPECT_EQ(OpenUnit(deviceSession), LINK_UNIT_NOT_FOUND);
}

struct ScenarioCase {
    std::string name;
    std::int32_t openCode;
    std::uint16_t productId;
    std::uint8_t unitMode;
    std::uint16_t escState;
    std::uint32_t hardwareId;
    std::uint16_t firmwareVersion;
};

TEST_F(SimUnitTest, ScenariosIdentifyAsNamed) {
    const ScenarioCase cases[] = {
        {"none", LINK_UNIT_NOT_FOUND, 0, 0, 0, 0, 0},
        {"ready", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"ready-alt", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x0A06408C, 0x0302},
        {"puck", LINK_OK, PRODUCT_TUNEPUCK, 0, 3, 0x111F408C, 0x0302},
        {"wrong-mode", LINK_OK, PRODUCT_TUNE_BOX, 1, 0, 0, 0},
        {"no-esc", LINK_OK, PRODUCT_TUNE_BOX, 0, 2, 0, 0},
        {"foreign-esc", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x12345678, 0x0302},
        {"no-firmware", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0xFFFF},
        {"newer", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0303},
        {"lock-refused", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"erase-fails", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"block-fails", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"unplug-during-transfer", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"silent", LINK_READ_FAILED, PRODUCT_TUNE_BOX, 0, 0, 0, 0},
        {"esc-boot-error", 5, PRODUCT_TUNE_BOX, 0, 3, 0, 0x0302},
        {"no-permission", LINK_UNIT_NOT_FOUND, 0, 0, 0, 0, 0},
        {"in-use", LINK_UNIT_NOT_FOUND, 0, 0, 0, 0, 0},
        {"esc-swapped", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
        {"esc-swapped-in-sequence", LINK_OK, PRODUCT_TUNE_BOX, 0, 3, 0x111F408C, 0x0302},
    };
    ASSERT_EQ(SimScenarioNames().size(), std::size(cases));
    for (const ScenarioCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        ASSERT_TRUE(LoadSimScenario(c.name, bus));
        EXPECT_EQ(OpenUnit(deviceSession), c.openCode);
        EXPECT_EQ(deviceSession.productId, c.productId);
        EXPECT_EQ(deviceSession.unitMode, c.unitMode);
        EXPECT_EQ(deviceSession.escState, c.escState);
        EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, c.hardwareId);
        EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, c.firmwareVersion);
        EXPECT_EQ(UnitDeniedAtLastOpen(), c.name == std::string("no-permission"));
        EXPECT_EQ(UnitBusyAtLastOpen(), c.name == std::string("in-use"));
    }
    SimHidHost bus(clock);
    EXPECT_FALSE(LoadSimScenario("no-such-scenario", bus));
    EXPECT_TRUE(bus.Paths().empty());
}

// The ESC behind the unit changes between two identifications, with no USB event.
TEST_F(SimUnitTest, EscSwappedIsForeignFromTheSecondIdentification) {
    SimHidHost bus(clock);
    UseHost use(bus);
    ASSERT_TRUE(LoadSimScenario("esc-swapped", bus));
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, 0x111F408Cu);
    UnitIdentity now;
    ASSERT_EQ(QueryIdentity(deviceSession, now), LINK_OK);
    EXPECT_EQ(now.escBootInfo.escHardwareId, 0x12345678u);
    EXPECT_EQ(bus.Paths().size(), 1u);
}

// Runs the update's command sequence over count blocks; the first failing step and code.
std::pair<std::string, std::int32_t> RunSequence(std::uint32_t count) {
    if (Lock(1).result != 1) return {"lock", ERROR_FUNCTION_FAILED};
    if (Protect(0).result != 0) return {"protect", ERROR_FUNCTION_FAILED};
    if (std::int32_t code = EraseFirmware(deviceSession)) return {"erase", code};
    if (std::int32_t code = SetAddress(0).code) return {"address", code};
    const auto block = Block(1);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (std::int32_t code = WriteBlock(deviceSession, block.data(), 12)) {
            return {"block " + std::to_string(i), code};
        }
    }
    return {"done", LINK_OK};
}

TEST_F(SimUnitTest, FailingScenariosFailAtTheirStep) {
    const std::tuple<std::string, std::string, std::int32_t, std::uint32_t> cases[] = {
        {"ready", "done", LINK_OK, 0},
        {"lock-refused", "lock", ERROR_FUNCTION_FAILED, 0},
        {"erase-fails", "erase", 0x0102, 0},
        {"block-fails", "block 199", 0x0105, 0},
        {"unplug-during-transfer", "block 300", LINK_WRITE_FAILED, SIM_LAST_ERROR_DEVICE_NOT_CONNECTED},
    };
    for (const auto& [name, step, code, lastError] : cases) {
        SCOPED_TRACE(name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        bus.setLastError = [&caseClock](std::uint32_t error) { caseClock.lastError = error; };
        UseHost use(bus);
        ASSERT_TRUE(LoadSimScenario(name, bus));
        ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
        EXPECT_EQ(RunSequence(2037), std::make_pair(step, code));
        EXPECT_EQ(caseClock.lastError, lastError);
    }
}

}  // namespace
