// The report exchange, the command bytes on the wire and the standard reply rule.
#include <functional>
#include <string>

#include "tests/link/link_fixture.h"

namespace {

std::array<std::uint8_t, 48> NumberedBlock() {
    std::array<std::uint8_t, 48> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    return block;
}

std::int32_t SendCommand(std::uint8_t command, std::uint8_t length, std::uint8_t argument,
                         std::initializer_list<std::uint32_t> words) {
    RequestReport request = RequestWith(command, length, argument, words);
    ReplyReport reply;
    return UnjudgedReportExchange(deviceSession, request, reply);
}

using ExchangeTest = LinkTest;

struct WireCase {
    const char* name;
    std::function<std::int32_t()> send;
    std::vector<std::uint8_t> expected;
};

TEST_F(ExchangeTest, CommandsTravelWithExactlyTheirBytesAndZeroElsewhere) {
    const WireCase cases[] = {
        {"erase", [] { return EraseFirmware(deviceSession); },
         Report({1, 0x1E, 4, 0, 0xD1, 0xA9, 0xC7, 0x5E})},
        {"lock set", [] { return SendCommand(CMD_SYSTEM_LOCK, 1, 1, {}); }, Report({1, 0x0B, 1, 1})},
        {"lock reset", [] { return SendCommand(CMD_SYSTEM_LOCK, 1, 0, {}); }, Report({1, 0x0B, 1, 0})},
        {"protection lifted", [] { return SendCommand(CMD_WRITE_PROTECT, 1, 0, {}); },
         Report({1, 0x20, 1, 0})},
        {"protection set", [] { return SendCommand(CMD_WRITE_PROTECT, 1, 1, {}); },
         Report({1, 0x20, 1, 1})},
        {"set address", [] { return SendCommand(CMD_SET_ADDRESS, 9, 1, {0, LINK_GUARD}); },
         Report({1, 0x1F, 9, 1, 0, 0, 0, 0, 0xD1, 0xA9, 0xC7, 0x5E})},
    };
    SimulatedUnit& unit = OpenedUnit();
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        unit.requests.clear();
        c.send();
        ASSERT_EQ(unit.requests.size(), 1u);
        EXPECT_EQ(Bytes(unit.requests[0]), c.expected);
        EXPECT_EQ(unit.requests[0].length, 60u);
    }
}

struct BlockCase {
    std::uint32_t wordCount;
    bool sent;
    std::uint8_t lengthByte;
};

TEST_F(ExchangeTest, WriteBlockSendsAllBlockBytesAndCountsOnlyTheGivenWords) {
    const BlockCase cases[] = {
        {12, true, 48}, {8, true, 32}, {14, true, 56}, {0, true, 0},
        {15, false, 0}, {0x40000004, false, 0},  // the second would wrap to 16 bytes
    };
    SimulatedUnit& unit = WritableUnit();
    const auto block = NumberedBlock();
    for (const BlockCase& c : cases) {
        SCOPED_TRACE("wordCount " + std::to_string(c.wordCount));
        unit.requests.clear();
        const std::size_t writesBefore = host.writeCalls;
        const std::int32_t code = WriteBlock(deviceSession, block.data(), c.wordCount);
        if (!c.sent) {
            EXPECT_EQ(code, LINK_NO_DEVICE);
            EXPECT_EQ(host.writeCalls, writesBefore);
            continue;
        }
        EXPECT_EQ(code, LINK_OK);
        ASSERT_EQ(unit.requests.size(), 1u);
        std::vector<std::uint8_t> expected = Report({1, 0x1B, c.lengthByte, 0});
        std::copy(block.begin(), block.end(), expected.begin() + 4);
        EXPECT_EQ(Bytes(unit.requests[0]), expected);  // data bytes 48..55 stay zero
    }
}

struct ReplyCase {
    const char* name;
    std::uint8_t status;
    std::uint8_t result;
    std::vector<std::uint8_t> bytes4to7;
    std::int32_t expected;
};

TEST_F(ExchangeTest, EraseAndWriteBlockJudgeTheReplyByTheStandardRule) {
    const ReplyCase cases[] = {
        {"plain reply", 0x00, 0x00, {0, 0, 0, 0}, LINK_OK},
        {"result byte ignored", 0x00, 0x55, {0, 0, 0, 0}, LINK_OK},
        {"code without error status ignored", 0x01, 0x01, {2, 1, 0, 0}, LINK_OK},
        {"error 0x102", 0xFF, 0x00, {2, 1, 0, 0}, 0x102},
        {"error all four bytes", 0xFF, 0x00, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {"error status with code 0", 0xFF, 0x07, {0, 0, 0, 0}, LINK_OK},
    };
    SimulatedUnit& unit = OpenedUnit();
    const auto block = NumberedBlock();
    const std::pair<const char*, std::function<std::int32_t()>> operations[] = {
        {"erase", [] { return EraseFirmware(deviceSession); }},
        {"block", [&] { return WriteBlock(deviceSession, block.data(), 12); }},
    };
    for (const auto& [operation, run] : operations) {
        for (const ReplyCase& c : cases) {
            SCOPED_TRACE(std::string(operation) + ": " + c.name);
            unit.editReply = [&c](const std::uint8_t*, std::uint8_t* reply) {
                reply[1] = c.status;
                reply[3] = c.result;
                std::memcpy(reply + 4, c.bytes4to7.data(), 4);
            };
            EXPECT_EQ(run(), c.expected);
        }
    }
}

TEST_F(ExchangeTest, EraseReadsItsReplyNoSoonerThanASecondAfterTheRequest) {
    SimulatedUnit& unit = WritableUnit();
    ASSERT_EQ(EraseFirmware(deviceSession), LINK_OK);
    ASSERT_EQ(unit.requests.size(), 1u);
    const SimRequest& erase = unit.requests[0];
    ASSERT_NE(erase.readAtMicros, 0u);
    EXPECT_GE(erase.readAtMicros - erase.writtenAtMicros, std::uint64_t{ERASE_REPLY_DELAY_MS} * 1000);
}

TEST_F(ExchangeTest, WithoutAnOpenUnitNothingIsSentOrRead) {
    PlugUnit();  // present, but not opened
    const auto block = NumberedBlock();
    RequestReport request = MakeRequest(CMD_IDENTIFY, 0);
    ReplyReport reply;
    EXPECT_EQ(EraseFirmware(deviceSession), LINK_NO_DEVICE);
    EXPECT_EQ(WriteBlock(deviceSession, block.data(), 12), LINK_NO_DEVICE);
    EXPECT_EQ(ReportExchange(deviceSession, request, reply), LINK_NO_DEVICE);
    EXPECT_EQ(UnjudgedReportExchange(deviceSession, request, reply), LINK_NO_DEVICE);
    EXPECT_EQ(host.writeCalls, 0u);
    EXPECT_EQ(host.readCalls, 0u);
    EXPECT_TRUE(clock.sleeps.empty());
}

struct FaultCase {
    const char* name;
    SimFault fault;
    std::int32_t expected;
    bool read;  // whether a read followed the write
};

TEST_F(ExchangeTest, FailedWritesAndReadsGiveTheirCodesAndLeaveTheLastError) {
    const FaultCase cases[] = {
        {"write fails", {SimFault::Kind::WriteFails, 0, 31}, LINK_WRITE_FAILED, false},
        {"read fails", {SimFault::Kind::ReadFails, 0, 23}, LINK_READ_FAILED, true},
        {"no reply", {SimFault::Kind::NoReply, 0, 1460}, LINK_READ_FAILED, true},
        {"unit error", {SimFault::Kind::ErrorReply, 0x0102, 0}, 0x0102, true},
    };
    SimulatedUnit& unit = OpenedUnit();
    const auto block = NumberedBlock();
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        unit.faults[unit.exchanges] = c.fault;
        const std::size_t readsBefore = host.readCalls;
        clock.lastError = 0;
        EXPECT_EQ(WriteBlock(deviceSession, block.data(), 12), c.expected);
        EXPECT_EQ(host.readCalls - readsBefore, c.read ? 1u : 0u);
        EXPECT_EQ(clock.lastError, c.fault.lastError);
    }
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE) << "a failed exchange must not give the unit up";
}

TEST_F(ExchangeTest, ReportsHaveTheUnitsLengthsAndNeverPassTheBuffer) {
    SimConfig config;
    config.outReportLength = 52;
    config.inReportLength = 44;
    SimulatedUnit& unit = OpenedUnit(config);
    // A reply that fills all 60 bytes: only the first 44 may arrive.
    unit.editReply = [](const std::uint8_t*, std::uint8_t* reply) { std::memset(reply + 1, 0xEE, 59); };
    RequestReport request = MakeRequest(CMD_READ_ESC_BOOT_INFO, 0);
    ReplyReport reply;
    ASSERT_EQ(UnjudgedReportExchange(deviceSession, request, reply), LINK_OK);
    EXPECT_EQ(unit.requests.back().length, 52u);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&reply);
    EXPECT_EQ(bytes[43], 0xEE);
    EXPECT_EQ(bytes[44], 0x00);
    EXPECT_EQ(bytes[59], 0x00);

    // Lengths beyond the buffer, however they got there, are cut to it.
    deviceSession.outReportLength = 4096;
    deviceSession.inReportLength = 4096;
    ASSERT_EQ(UnjudgedReportExchange(deviceSession, request, reply), LINK_OK);
    EXPECT_EQ(unit.requests.back().length, REPORT_SIZE);
    EXPECT_EQ(bytes[59], 0xEE);
}

TEST_F(ExchangeTest, ResetClosesTheOpenUnitAndZeroesEveryField) {
    OpenedUnit();
    ASSERT_NE(deviceSession.escAppInfo.escFirmwareVersion, 0);
    const std::size_t closesBefore = host.closeCalls;
    deviceSession.Reset();
    EXPECT_EQ(host.closeCalls - closesBefore, 1u);
    EXPECT_EQ(host.OpenHandleCount(), 0u);
    ExpectResetState(deviceSession);

    // Once more on the reset record: nothing is left to close or free.
    deviceSession.Reset();
    EXPECT_EQ(host.closeCalls - closesBefore, 1u);
    ExpectResetState(deviceSession);
}

}  // namespace
