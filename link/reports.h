// What travels over the link: the two report layouts, the commands and their fixed
// values, the information blocks the unit returns, and the link's return codes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the link's multi-byte values are little-endian and are copied as they are");

// A platform device handle; a HANDLE on Windows, a file descriptor elsewhere.
using DeviceHandle = std::intptr_t;
constexpr DeviceHandle NO_DEVICE_HANDLE = -1;

// Return codes of every link operation. Any other value is the unit's own error code.
constexpr std::int32_t LINK_OK = 0;
constexpr std::int32_t LINK_NO_DEVICE = -1;
constexpr std::int32_t LINK_WRITE_FAILED = -2;
constexpr std::int32_t LINK_READ_FAILED = -3;
constexpr std::int32_t LINK_UNIT_NOT_FOUND = -4;
#ifndef ERROR_FUNCTION_FAILED  // <winerror.h> defines the same value as a macro
constexpr std::int32_t ERROR_FUNCTION_FAILED = 1627;
#endif

// A reply that has not arrived within this bound is a failed read, and a write that
// has not completed within it a failed write: a silent unit must not freeze the window.
constexpr std::uint32_t LINK_TIMEOUT_MS = 10000;

constexpr std::size_t REPORT_SIZE = 60;
constexpr std::uint8_t REPORT_ID_REQUEST = 1;
constexpr std::uint8_t REPORT_ID_REPLY = 2;
constexpr std::uint8_t STATUS_ERROR = 0xFF;
constexpr std::uint32_t LINK_GUARD = 0x5EC7A9D1;

// Report lengths the commands need (report id byte included): a 48-byte block needs an
// output report of 52 bytes, the longest reply used 44 bytes; neither may pass the buffer.
constexpr std::uint32_t MIN_OUT_REPORT_LENGTH = 52;
constexpr std::uint32_t MIN_IN_REPORT_LENGTH = 44;
constexpr std::uint32_t MAX_REPORT_LENGTH = REPORT_SIZE;

constexpr std::uint8_t CMD_IDENTIFY = 0x08;
constexpr std::uint8_t CMD_READ_UNIT_MEMORY = 0x0A;
constexpr std::uint8_t CMD_READ_ESC_APP_INFO = 0x1D;
constexpr std::uint8_t CMD_READ_ESC_BOOT_INFO = 0x22;
constexpr std::uint8_t CMD_SYSTEM_LOCK = 0x0B;
constexpr std::uint8_t CMD_WRITE_PROTECT = 0x20;
constexpr std::uint8_t CMD_ERASE = 0x1E;
constexpr std::uint8_t CMD_SET_ADDRESS = 0x1F;
constexpr std::uint8_t CMD_WRITE_BLOCK = 0x1B;

constexpr std::uint32_t UNIT_MEMORY_ADDRESS = 0x0801FC00;
constexpr std::uint32_t ERASE_REPLY_DELAY_MS = 1000;

constexpr std::uint16_t UNIT_VENDOR_ID = 0x2E6D;
constexpr std::uint16_t PRODUCT_TUNEPUCK = 1;
constexpr std::uint16_t PRODUCT_TUNE_BOX = 2;

// The output report, report id 1, built in a REPORT_SIZE buffer.
struct RequestReport {
    std::uint8_t reportId;
    std::uint8_t command;
    std::uint8_t length;
    std::uint8_t argument;
    std::uint8_t data[56];
};
static_assert(sizeof(RequestReport) == REPORT_SIZE);

// The input report, report id 2, read into a REPORT_SIZE buffer.
struct ReplyReport {
    std::uint8_t reportId;
    std::uint8_t status;
    std::uint8_t length;
    std::uint8_t result;
    std::uint8_t data[56];

    // The unit's error code (bytes 4..7) when status is STATUS_ERROR.
    std::uint32_t ErrorCode() const;
};
static_assert(sizeof(ReplyReport) == REPORT_SIZE);

struct UnitBootInfo {
    std::uint8_t bootInfoA;
    std::uint16_t bootInfoB;
    std::uint32_t bootInfoC;
    std::uint32_t bootInfoD;
    std::uint8_t bootInfoE;
};

// The ESC's application information block as the unit returns it.
struct EscAppInfo {
    std::uint8_t bytes0to3[4];
    std::uint16_t escFirmwareVersion;
    std::uint8_t bytes6to31[26];
};
static_assert(sizeof(EscAppInfo) == 32);

// The ESC bootloader's information block as the unit returns it.
struct EscBootInfo {
    std::uint32_t escHardwareId;
    std::uint32_t escBootloaderVersion;
    std::uint8_t bytes8to39[32];
};
static_assert(sizeof(EscBootInfo) == 40);

