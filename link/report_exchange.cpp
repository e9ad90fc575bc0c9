// The report exchange with the programming unit and the two commands that stand as
// operations of their own.
#include <algorithm>
#include <cstring>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/link.h"
#include "link/hid_host.h"

DeviceSession deviceSession;
HidHost* hidHost = nullptr;
Clock* systemClock = nullptr;

void DeviceSession::Reset() {
    if (handle != NO_DEVICE_HANDLE && hidHost != nullptr) {
        hidHost->Close(handle);
    }
    devicePath.reset();
    // The moved-in record carries the defaults: every field zero, handle -1.
    *this = DeviceSession{};
}

std::uint32_t ReplyReport::ErrorCode() const {
    std::uint32_t code;
    std::memcpy(&code, data, sizeof code);
    return code;
}

RequestReport MakeRequest(std::uint8_t command, std::uint8_t length) {
    RequestReport request{};
    request.reportId = REPORT_ID_REQUEST;
    request.command = command;
    request.length = length;
    return request;
}

std::int32_t UnjudgedReportExchange(DeviceSession& session, RequestReport& request, ReplyReport& reply) {
    if (session.handle == NO_DEVICE_HANDLE || hidHost == nullptr) {
        return LINK_NO_DEVICE;
    }
    request.reportId = REPORT_ID_REQUEST;
    // Whatever the unit claims, no transfer may leave the 60-byte buffers.
    const std::uint32_t outLength = std::min<std::uint32_t>(session.outReportLength, REPORT_SIZE);
    const std::uint32_t inLength = std::min<std::uint32_t>(session.inReportLength, REPORT_SIZE);

    if (!hidHost->Write(session.handle, reinterpret_cast<const std::uint8_t*>(&request), outLength,
                        LINK_TIMEOUT_MS)) {
        return LINK_WRITE_FAILED;
    }
    if (request.command == CMD_ERASE && systemClock != nullptr) {
        // The unit answers an erase only once the flash is blank.
        systemClock->Sleep(ERASE_REPLY_DELAY_MS);
        // The wait services sent messages; a removal handled there gave the unit up.
        if (session.handle == NO_DEVICE_HANDLE) {
            return LINK_NO_DEVICE;
        }
    }
    // A short reply must not leave bytes of an earlier one behind.
    reply = ReplyReport{};
    reply.reportId = REPORT_ID_REPLY;
    if (!hidHost->Read(session.handle, reinterpret_cast<std::uint8_t*>(&reply), inLength,
                       LINK_TIMEOUT_MS)) {
        return LINK_READ_FAILED;
    }
    return LINK_OK;
}

std::int32_t ReportExchange(DeviceSession& session, RequestReport& request, ReplyReport& reply) {
    const std::int32_t code = UnjudgedReportExchange(session, request, reply);
    if (code != LINK_OK) {
        return code;
    }
    if (reply.status == STATUS_ERROR) {
        return static_cast<std::int32_t>(reply.ErrorCode());
    }
    return LINK_OK;
}

std::int32_t EraseFirmware(DeviceSession& session) {
    if (session.handle == NO_DEVICE_HANDLE) {
        return LINK_NO_DEVICE;
    }
    RequestReport request = MakeRequest(CMD_ERASE, 4);
    std::memcpy(request.data, &LINK_GUARD, sizeof LINK_GUARD);
    ReplyReport reply;
    return ReportExchange(session, request, reply);
}

std::int32_t WriteBlock(DeviceSession& session, const std::uint8_t* block, std::uint32_t wordCount) {
    if (session.handle == NO_DEVICE_HANDLE) {
        return LINK_NO_DEVICE;
    }
    // Tested on the count itself: wordCount * 4 would wrap for huge counts.
    if (wordCount > 14 || block == nullptr) {
        return LINK_NO_DEVICE;
    }
    RequestReport request = MakeRequest(CMD_WRITE_BLOCK, static_cast<std::uint8_t>(wordCount * 4));
    // All 48 bytes travel, the fill behind the counted words included.
    std::memcpy(request.data, block, 48);
    ReplyReport reply;
    return ReportExchange(session, request, reply);
}
