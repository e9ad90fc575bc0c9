// The link's operations on the open unit: the report exchange in its two forms, the
// commands that stand as operations of their own, discovery and identification.
#pragma once

#include <cstdint>

#include "link/device_session.h"
#include "link/reports.h"

// One request and its reply. request must hold command, length and the bytes the
// command sets; the report id is filled in here. On LINK_OK and on unit error codes
// reply holds the reply read. Judges the reply by the standard rule.
std::int32_t ReportExchange(DeviceSession& session, RequestReport& request, ReplyReport& reply);

// Like ReportExchange, but the reply is not judged: returns LINK_OK once a reply has
// been read, whatever it says, so that the caller can apply its command's own rule.
// Writes outReportLength bytes of request and reads inReportLength bytes into reply
// (zeroed first, byte 0 set to 2), never more than REPORT_SIZE whatever the lengths say;
// each transfer is bounded by LINK_TIMEOUT_MS. A CMD_ERASE reply is read only after
// ERASE_REPLY_DELAY_MS on systemClock. LINK_NO_DEVICE (nothing sent) with handle -1.
std::int32_t UnjudgedReportExchange(DeviceSession& session, RequestReport& request, ReplyReport& reply);

// A request for a command with its length byte, every other byte zero (report id 1).
RequestReport MakeRequest(std::uint8_t command, std::uint8_t length);

std::int32_t EraseFirmware(DeviceSession& session);
std::int32_t WriteBlock(DeviceSession& session, const std::uint8_t* block, std::uint32_t wordCount);

// Discovery and identification.
std::int32_t OpenUnit(DeviceSession& session);
// Whether the last OpenUnit passed over a programming unit the platform refused to open
// for want of permission. OpenUnit counts such a unit as absent, like any unit it cannot
// open; this lets a front end tell "found, but not allowed" from "no unit".
bool UnitDeniedAtLastOpen();
// Likewise for a unit another program holds open: "in use", not absent. It is free again
// without any USB event, so a front end that waits for units looks again now and then.
bool UnitBusyAtLastOpen();
// False, lengths unchanged, when the capabilities cannot be read or a length lies outside
// MIN_OUT_REPORT_LENGTH..MAX_REPORT_LENGTH (output) or MIN_IN_REPORT_LENGTH..MAX_REPORT_LENGTH (input).
bool ReadReportLengths(DeviceSession& session);
std::int32_t IdentifyUnit(DeviceSession& session);

// Asks the open unit what it is and what is behind it, with the identification's
// exchanges and nothing else, into identity (emptied first, filled as the answers come:
// it holds what was learnt before a failure). The same codes as IdentifyUnit.
std::int32_t QueryIdentity(DeviceSession& session, UnitIdentity& identity);
// Whether two identities describe the same ESC as far as an update is concerned: the
// unit's mode, the ESC's state, its hardware id, its bootloader and its firmware version.
// An ESC swapped behind the unit (which makes no USB event) differs in one of these, or
// it is the same model with the same firmware, for which the checks made hold alike.
bool SameEscForUpdate(const UnitIdentity& shown, const UnitIdentity& now);
