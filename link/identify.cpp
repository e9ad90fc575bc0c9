// Asking the freshly opened unit what it is and what is connected behind it.
#include <cstring>

#include "link/device_session.h"
#include "link/link.h"

namespace {

template <typename T>
T ReplyValue(const ReplyReport& reply, std::size_t byte) {
    T value;
    std::memcpy(&value, reinterpret_cast<const std::uint8_t*>(&reply) + byte, sizeof value);
    return value;
}

}  // namespace

std::int32_t QueryIdentity(DeviceSession& session, UnitIdentity& identity) {
    identity = UnitIdentity{};

    ReplyReport reply;
    RequestReport identify = MakeRequest(CMD_IDENTIFY, 0);
    // Status is not examined here: whatever the unit sends is taken as its answer.
    if (const std::int32_t code = UnjudgedReportExchange(session, identify, reply); code != LINK_OK) {
        return code;
    }
    identity.unitMode = reply.result;

    if (identity.unitMode != 0) {
        // The unit's other mode: its boot information and its firmware word from memory.
        UnitBootInfo& boot = identity.unitBootInfo;
        boot.bootInfoA = ReplyValue<std::uint8_t>(reply, 4);
        boot.bootInfoB = ReplyValue<std::uint16_t>(reply, 5);
        boot.bootInfoC = ReplyValue<std::uint32_t>(reply, 7);
        boot.bootInfoD = ReplyValue<std::uint32_t>(reply, 11);
        boot.bootInfoE = ReplyValue<std::uint8_t>(reply, 15);

        RequestReport memory = MakeRequest(CMD_READ_UNIT_MEMORY, 12);
        std::memcpy(memory.data, &UNIT_MEMORY_ADDRESS, sizeof UNIT_MEMORY_ADDRESS);
        if (const std::int32_t code = UnjudgedReportExchange(session, memory, reply); code != LINK_OK) {
            return code;
        }
        identity.unitFirmwareVersion = ReplyValue<std::uint32_t>(reply, 8);
        identity.unitInfoWord = ReplyValue<std::uint32_t>(reply, 12);
        return LINK_OK;
    }

    identity.escState = ReplyValue<std::uint16_t>(reply, 4);
    identity.escAuxWord = ReplyValue<std::uint16_t>(reply, 6);
    identity.unitFirmwareVersion = ReplyValue<std::uint32_t>(reply, 8);
    identity.unitInfoWord = ReplyValue<std::uint32_t>(reply, 12);
    if (identity.escState != 3) {
        return LINK_OK;
    }

    RequestReport appInfo = MakeRequest(CMD_READ_ESC_APP_INFO, 8);
    const std::uint32_t appInfoWords[2] = {32, 0xFFFFFFE0};
    std::memcpy(appInfo.data, appInfoWords, sizeof appInfoWords);
    if (const std::int32_t code = UnjudgedReportExchange(session, appInfo, reply); code != LINK_OK) {
        return code;
    }
    if (reply.status == STATUS_ERROR) {
        // Only the low 16 bits count; an error without a code leaves the block empty.
        if (const std::uint16_t code = ReplyValue<std::uint16_t>(reply, 4); code != 0) {
            return code;
        }
    } else {
        std::memcpy(&identity.escAppInfo, reply.data, sizeof identity.escAppInfo);
    }

    RequestReport bootInfo = MakeRequest(CMD_READ_ESC_BOOT_INFO, 0);
    if (const std::int32_t code = UnjudgedReportExchange(session, bootInfo, reply); code != LINK_OK) {
        return code;
    }
    if (reply.status == STATUS_ERROR) {
        // Ends the identification even when the code is 0; the block then stays zero.
        return ReplyValue<std::uint16_t>(reply, 4);
    }
    std::memcpy(&identity.escBootInfo, reply.data, sizeof identity.escBootInfo);
    return LINK_OK;
}

std::int32_t IdentifyUnit(DeviceSession& session) {
    if (session.handle == NO_DEVICE_HANDLE || !session.devicePath) {
        return LINK_NO_DEVICE;
    }
    if (!ReadReportLengths(session)) {
        return LINK_NO_DEVICE;
    }
    // The session's own identity is filled as the answers come: what was learnt before a
    // failure stays.
    return QueryIdentity(session, session);
}

bool SameEscForUpdate(const UnitIdentity& shown, const UnitIdentity& now) {
    return shown.unitMode == now.unitMode && shown.escState == now.escState &&
           shown.escBootInfo.escHardwareId == now.escBootInfo.escHardwareId &&
           shown.escBootInfo.escBootloaderVersion == now.escBootInfo.escBootloaderVersion &&
           shown.escAppInfo.escFirmwareVersion == now.escAppInfo.escFirmwareVersion;
}
