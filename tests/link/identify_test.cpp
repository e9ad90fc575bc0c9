// Identification of the unit and of the ESC behind it.
#include <functional>
#include <string>

#include "tests/link/link_fixture.h"

namespace {

using IdentifyTest = LinkTest;

const std::vector<std::uint8_t> identifyBytes = Report({1, 0x08, 0});
const std::vector<std::uint8_t> unitMemoryBytes = Report({1, 0x0A, 12, 0, 0x00, 0xFC, 0x01, 0x08});
const std::vector<std::uint8_t> appInfoBytes =
    Report({1, 0x1D, 8, 0, 0x20, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF});
const std::vector<std::uint8_t> bootInfoBytes = Report({1, 0x22});

struct BranchCase {
    const char* name;
    std::function<void(SimConfig&)> configure;
    std::vector<std::vector<std::uint8_t>> requests;
    std::function<void(const SimConfig&, const DeviceSession&)> check;
};

TEST_F(IdentifyTest, EachBranchAsksItsQuestionsAndFillsItsFields) {
    const BranchCase cases[] = {
        {"other mode", [](SimConfig& c) { c.unitMode = 1; }, {identifyBytes, unitMemoryBytes},
         [](const SimConfig& c, const DeviceSession& s) {
             EXPECT_EQ(s.unitMode, 1);
             EXPECT_EQ(s.escState, 0);
             EXPECT_EQ(s.escAuxWord, 0);
             EXPECT_EQ(s.unitFirmwareVersion, c.unitMemoryFirmwareVersion);
             EXPECT_EQ(s.unitInfoWord, c.unitInfoWord);
             EXPECT_EQ(s.unitBootInfo.bootInfoA, c.unitBootInfo.bootInfoA);
             EXPECT_EQ(s.unitBootInfo.bootInfoB, c.unitBootInfo.bootInfoB);
             EXPECT_EQ(s.unitBootInfo.bootInfoC, c.unitBootInfo.bootInfoC);
             EXPECT_EQ(s.unitBootInfo.bootInfoD, c.unitBootInfo.bootInfoD);
             EXPECT_EQ(s.unitBootInfo.bootInfoE, c.unitBootInfo.bootInfoE);
             EXPECT_EQ(s.escAppInfo.escFirmwareVersion, 0);
             EXPECT_EQ(s.escBootInfo.escHardwareId, 0u);
         }},
        {"no ESC ready", [](SimConfig& c) { c.escState = 2; }, {identifyBytes},
         [](const SimConfig& c, const DeviceSession& s) {
             EXPECT_EQ(s.unitMode, 0);
             EXPECT_EQ(s.escState, 2);
             EXPECT_EQ(s.escAuxWord, c.escAuxWord);
             EXPECT_EQ(s.unitFirmwareVersion, c.unitFirmwareVersion);
             EXPECT_EQ(s.unitInfoWord, c.unitInfoWord);
             EXPECT_EQ(s.unitBootInfo.bootInfoC, 0u);
             EXPECT_EQ(s.escAppInfo.escFirmwareVersion, 0);
             EXPECT_EQ(s.escBootInfo.escHardwareId, 0u);
         }},
        {"ESC ready", [](SimConfig&) {}, {identifyBytes, appInfoBytes, bootInfoBytes},
         [](const SimConfig& c, const DeviceSession& s) {
             EXPECT_EQ(s.unitMode, 0);
             EXPECT_EQ(s.escState, 3);
             EXPECT_EQ(s.unitFirmwareVersion, c.unitFirmwareVersion);
             EXPECT_EQ(s.escAppInfo.escFirmwareVersion, c.escFirmwareVersion);
             EXPECT_EQ(s.escBootInfo.escHardwareId, c.escHardwareId);
             EXPECT_EQ(s.escBootInfo.escBootloaderVersion, c.escBootloaderVersion);
             EXPECT_EQ(s.unitBootInfo.bootInfoA, 0);
         }},
    };
    for (const BranchCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        SimConfig config;
        config.unitFirmwareVersion = 0x0A0B0C0D;
        config.unitMemoryFirmwareVersion = 0x01020304;
        config.unitInfoWord = 0x55667788;
        c.configure(config);
        SimulatedUnit& unit = bus.Plug(SimUnitPath(config.productId), config);

        EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
        ASSERT_EQ(unit.requests.size(), c.requests.size());
        for (std::size_t i = 0; i < c.requests.size(); ++i) {
            EXPECT_EQ(Bytes(unit.requests[i]), c.requests[i]) << "request " << i;
        }
        EXPECT_EQ(deviceSession.outReportLength, config.outReportLength);
        EXPECT_EQ(deviceSession.inReportLength, config.inReportLength);
        c.check(config, deviceSession);
    }
}

TEST_F(IdentifyTest, TheBlocksAreTakenAsTheUnitSendsThem) {
    SimulatedUnit& unit = PlugUnit();
    unit.editReply = [](const std::uint8_t* request, std::uint8_t* reply) {
        if (request[1] == CMD_IDENTIFY) {
            return;
        }
        for (std::size_t i = 4; i < REPORT_SIZE; ++i) {
            reply[i] = static_cast<std::uint8_t>(request[1] + i);
        }
    };
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    const auto* app = reinterpret_cast<const std::uint8_t*>(&deviceSession.escAppInfo);
    const auto* boot = reinterpret_cast<const std::uint8_t*>(&deviceSession.escBootInfo);
    for (std::size_t i = 0; i < sizeof(EscAppInfo); ++i) {
        EXPECT_EQ(app[i], static_cast<std::uint8_t>(0x1D + 4 + i)) << "app info byte " << i;
    }
    for (std::size_t i = 0; i < sizeof(EscBootInfo); ++i) {
        EXPECT_EQ(boot[i], static_cast<std::uint8_t>(0x22 + 4 + i)) << "boot info byte " << i;
    }
    // Little-endian as sent: reply bytes 8 (low) and 9 (high); 4..7 and 8..11.
    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, 0x2625);
    EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, 0x29282726u);
    EXPECT_EQ(deviceSession.escBootInfo.escBootloaderVersion, 0x2D2C2B2Au);
}

struct ErrorCase {
    const char* name;
    std::uint8_t command;                // whose reply gets status 0xFF
    std::vector<std::uint8_t> bytes4to7;
    std::int32_t expected;
    std::vector<std::uint8_t> commands;  // sent, in order
    bool appInfoKept;
    bool bootInfoKept;
};

TEST_F(IdentifyTest, ErrorRepliesOfTheEscQueriesCountByTheirLow16Bits) {
    const ErrorCase cases[] = {
        {"app info error 5", CMD_READ_ESC_APP_INFO, {0x05, 0x00, 0x34, 0x12}, 5,
         {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO}, false, false},
        {"app info error 0xFFFF", CMD_READ_ESC_APP_INFO, {0xFF, 0xFF, 0x00, 0x00}, 0xFFFF,
         {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO}, false, false},
        {"app info error with code 0 goes on", CMD_READ_ESC_APP_INFO, {0x00, 0x00, 0x34, 0x12},
         LINK_OK, {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO}, false, true},
        {"boot info error with code 0 ends it as success", CMD_READ_ESC_BOOT_INFO,
         {0x00, 0x00, 0x00, 0x00}, LINK_OK,
         {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO}, true, false},
        {"boot info error 7", CMD_READ_ESC_BOOT_INFO, {0x07, 0x00, 0x99, 0x99}, 7,
         {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO}, true, false},
        {"identify with error status is taken as it is", CMD_IDENTIFY, {0x03, 0x00, 0x07, 0x00},
         LINK_OK, {CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO}, true, true},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        SimConfig config;
        SimulatedUnit& unit = bus.Plug(SimUnitPath(config.productId), config);
        unit.editReply = [&c](const std::uint8_t* request, std::uint8_t* reply) {
            if (request[1] == c.command) {
                reply[1] = STATUS_ERROR;
                std::memcpy(reply + 4, c.bytes4to7.data(), 4);
            }
        };

        EXPECT_EQ(OpenUnit(deviceSession), c.expected);
        EXPECT_EQ(unit.Commands(), c.commands);
        EXPECT_EQ(deviceSession.escState, 3);
        EXPECT_EQ(deviceSession.escAuxWord, c.command == CMD_IDENTIFY ? 7 : config.escAuxWord);
        EXPECT_EQ(deviceSession.unitFirmwareVersion, config.unitFirmwareVersion);
        EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion,
                  c.appInfoKept ? config.escFirmwareVersion : 0);
        EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, c.bootInfoKept ? config.escHardwareId : 0);
    }
}

// The unit-memory reply is taken as it comes: an error status there is no failure.
TEST_F(IdentifyTest, UnitMemoryReplyStatusIsNotExamined) {
    SimConfig config;
    config.unitMode = 1;
    config.unitMemoryFirmwareVersion = 0x01020304;
    SimulatedUnit& unit = host.Plug(SimUnitPath(config.productId), config);
    unit.editReply = [](const std::uint8_t* request, std::uint8_t* reply) {
        if (request[1] == CMD_READ_UNIT_MEMORY) {
            reply[1] = STATUS_ERROR;
            reply[4] = 0x09;
        }
    };

    EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
    EXPECT_EQ(unit.Commands(), (std::vector<std::uint8_t>{CMD_IDENTIFY, CMD_READ_UNIT_MEMORY}));
    EXPECT_EQ(deviceSession.unitFirmwareVersion, 0x01020304u);
}

TEST_F(IdentifyTest, AFailedWriteOrReadEndsItAtThatStep) {
    const std::pair<SimFault::Kind, std::int32_t> kinds[] = {
        {SimFault::Kind::WriteFails, LINK_WRITE_FAILED},
        {SimFault::Kind::ReadFails, LINK_READ_FAILED},
    };
    for (std::uint8_t mode : {0, 1}) {
        const std::size_t steps = mode == 0 ? 3 : 2;
        for (std::size_t step = 0; step < steps; ++step) {
            for (const auto& [kind, expected] : kinds) {
                SCOPED_TRACE("mode " + std::to_string(mode) + ", step " + std::to_string(step) +
                             (kind == SimFault::Kind::WriteFails ? ", write" : ", read"));
                FakeClock caseClock;
                SimHidHost bus(caseClock);
                UseHost use(bus);
                SimConfig config;
                config.unitMode = mode;
                SimulatedUnit& unit = bus.Plug(SimUnitPath(config.productId), config);
                unit.faults[step] = {kind, 0, 0};

                EXPECT_EQ(OpenUnit(deviceSession), expected);
                EXPECT_EQ(bus.writeCalls, step + 1) << "nothing is sent after the failure";
                EXPECT_EQ(deviceSession.unitMode, step == 0 ? 0 : mode);
                EXPECT_EQ(deviceSession.escState, step == 0 || mode != 0 ? 0 : 3);
            }
        }
    }
}

TEST_F(IdentifyTest, WithoutHandleOrPathNothingIsAsked) {
    PlugUnit();
    EXPECT_EQ(IdentifyUnit(deviceSession), LINK_NO_DEVICE);

    // A handle without a path is no opened unit either.
    deviceSession.handle = host.Open(SimUnitPath(PRODUCT_TUNE_BOX));
    EXPECT_EQ(IdentifyUnit(deviceSession), LINK_NO_DEVICE);
    EXPECT_EQ(host.writeCalls, 0u);
    EXPECT_EQ(deviceSession.outReportLength, 0u);
}

struct LengthCase {
    std::uint16_t out;
    std::uint16_t in;
    bool accepted;
};

TEST_F(IdentifyTest, UnitsWhoseReportsCannotCarryTheCommandsAreRefused) {
    const LengthCase cases[] = {
        {51, 60, false}, {52, 60, true},  {60, 60, true},  {61, 60, false},
        {60, 43, false}, {60, 44, true},  {60, 61, false}, {52, 44, true},
        {0, 0, false},   {65535, 60, false}, {60, 65535, false},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE("out " + std::to_string(c.out) + ", in " + std::to_string(c.in));
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        SimConfig config;
        config.outReportLength = c.out;
        config.inReportLength = c.in;
        SimulatedUnit& unit = bus.Plug(SimUnitPath(config.productId), config);

        if (c.accepted) {
            EXPECT_EQ(OpenUnit(deviceSession), LINK_OK);
            EXPECT_EQ(deviceSession.outReportLength, c.out);
            EXPECT_EQ(deviceSession.inReportLength, c.in);
            EXPECT_EQ(deviceSession.escBootInfo.escHardwareId, config.escHardwareId);
        } else {
            EXPECT_EQ(OpenUnit(deviceSession), LINK_NO_DEVICE);
            EXPECT_TRUE(unit.requests.empty());
            EXPECT_EQ(bus.writeCalls, 0u);
            EXPECT_EQ(deviceSession.outReportLength, 0u);
            EXPECT_EQ(deviceSession.inReportLength, 0u);
            EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
        }
    }
}

TEST_F(IdentifyTest, UnreadableCapabilitiesRefuseTheUnit) {
    PlugUnit();
    host.capabilitiesFail = true;
    EXPECT_EQ(OpenUnit(deviceSession), LINK_NO_DEVICE);
    EXPECT_EQ(host.writeCalls, 0u);
}

struct DelayCase {
    const char* name;
    std::function<void(SimulatedUnit&)> arm;
    std::int32_t expected;
};

TEST_F(IdentifyTest, ASilentUnitEndsInAFailedReadWithinTheBound) {
    const DelayCase cases[] = {
        {"never replies",
         [](SimulatedUnit& u) { u.everyExchangeFault = {SimFault::Kind::NoReply, 0, 1460}; },
         LINK_READ_FAILED},
        {"replies just after the bound", [](SimulatedUnit& u) { u.replyDelayMs[0] = LINK_TIMEOUT_MS + 1; },
         LINK_READ_FAILED},
        {"replies just within the bound", [](SimulatedUnit& u) { u.replyDelayMs[0] = LINK_TIMEOUT_MS; },
         LINK_OK},
    };
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock caseClock;
        SimHidHost bus(caseClock);
        UseHost use(bus);
        SimulatedUnit& unit = bus.Plug(SimUnitPath(PRODUCT_TUNE_BOX), SimConfig{});
        c.arm(unit);
        const std::uint64_t start = caseClock.now;

        EXPECT_EQ(OpenUnit(deviceSession), c.expected);
        EXPECT_LE(caseClock.now - start, std::uint64_t{LINK_TIMEOUT_MS} * 1000);
        if (c.expected != LINK_OK) {
            EXPECT_EQ(unit.requests.size(), 1u) << "the identification stops at the first silence";
        }
    }
}

}  // namespace
