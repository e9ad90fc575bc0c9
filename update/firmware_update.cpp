// The firmware update: questions, the command sequence with its fixed waits, the block
// transfer, and the one success and one failure ending.
#include "update/firmware_update.h"

#include <cstring>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/link.h"
#include "res/resource.h"
#include "res/text_format.h"

FirmwareImageLoader firmwareImageLoader = LoadFirmwareImage;

bool placeholderImagesAllowed = false;

bool IsDevelopmentBuild() {
    return FirmwareImagesArePlaceholders() && !placeholderImagesAllowed;
}

namespace {

// The command sequence runs between these two: the computer is kept awake, the waits are
// precise, and the window leaves the unit to the update.
void BeginSequence(UpdateView& view) {
    view.EnterPhase(UpdatePhase::Running);
    systemClock->BeginUpdatePeriod();
}

void EndSequence(UpdateView& view) {
    systemClock->EndUpdatePeriod();
    view.EnterPhase(UpdatePhase::Reporting);
}

// Between a failure text and its error-code line.
constexpr const wchar_t* CODE_LINE_SEPARATOR = L"\r\n";

// Texts the procedure is given, held as a buffer of TEXT_CAPACITY holds them.
std::wstring Bounded(std::wstring text) {
    TruncateText(text, TEXT_CAPACITY);
    return text;
}

// Used in place of a catalogue format that asks for anything other than the two
// hexadecimal numbers it is given, so that the numbers always show.
constexpr const wchar_t* FALLBACK_CODE_LINE_FORMAT = L"0x%08x-0x%08x";

// Accepts only "%%" and at most two "%08x", the two numbers that are passed.
bool IsSafeCodeLineFormat(const std::wstring& format) {
    int numbers = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') {
            continue;
        }
        if (format.compare(i, 2, L"%%") == 0) {
            ++i;
        } else if (format.compare(i, 4, L"%08x") == 0) {
            if (++numbers > 2) {
                return false;
            }
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

std::wstring FormatCodeLine(const std::wstring& format, std::int32_t code, std::uint32_t systemError) {
    const std::wstring_view used = IsSafeCodeLineFormat(format) ? std::wstring_view(format)
                                                                 : FALLBACK_CODE_LINE_FORMAT;
    return FormatText(used, {static_cast<std::uint32_t>(code), systemError}, TEXT_CAPACITY);
}

// A failure before the sequence: nothing was sent.
UpdateResult Fail(UpdateView& view, std::uint16_t textId, std::int32_t code, std::uint32_t systemError) {
    view.EnterPhase(UpdatePhase::Reporting);
    const std::wstring caption = view.LoadMessage(IDS_UPDATE_FAILED_CAPTION);
    return {UpdateOutcome::Refused, textId,
            ReportUpdateFailure(view, view.LoadMessage(textId), caption, code, systemError)};
}

// A failing step: the system error is taken before anything else can change it, the
// update period ends before the box waits for the user, then the one failure report.
UpdateResult FailStep(UpdateView& view, std::uint16_t textId, std::int32_t code, bool progressOpen) {
    const std::uint32_t systemError = systemClock->LastError();
    if (progressOpen) {
        view.CloseProgressWindow();
    }
    EndSequence(view);
    const std::wstring caption = view.LoadMessage(IDS_UPDATE_FAILED_CAPTION);
    const std::wstring text = view.LoadMessage(textId);
    return {UpdateOutcome::Failed, textId, ReportUpdateFailure(view, text, caption, code, systemError)};
}

// The sequence's first step found another ESC than the one confirmed: the lock step's
// failure, with the reason in place of a code line. Nothing was written.
UpdateResult FailStepEscChanged(UpdateView& view) {
    const std::uint32_t systemError = systemClock->LastError();
    EndSequence(view);
    const std::wstring caption = view.LoadMessage(IDS_UPDATE_FAILED_CAPTION);
    std::wstring text = Bounded(view.LoadMessage(IDS_LOCK_FAILED));
    text += CODE_LINE_SEPARATOR;
    text += view.LoadMessage(IDS_ESC_CHANGED);
    ReportUpdateFailure(view, text, caption, LINK_NO_DEVICE, systemError);
    return {UpdateOutcome::Failed, IDS_LOCK_FAILED, L""};
}

// 5a: the unit's system lock; only a result of 1 accepts it.
std::int32_t SetSystemLock() {
    RequestReport request = MakeRequest(CMD_SYSTEM_LOCK, 1);
    request.argument = 1;
    ReplyReport reply{};
    const std::int32_t outcome = UnjudgedReportExchange(deviceSession, request, reply);
    if (outcome != LINK_OK) {
        return outcome;
    }
    return reply.result == 1 ? LINK_OK : ERROR_FUNCTION_FAILED;
}

// 5b: lift the ESC flash write protection. An error reply carries its own code (0 is
// success); otherwise the result byte must be 0.
std::int32_t LiftWriteProtection() {
    RequestReport request = MakeRequest(CMD_WRITE_PROTECT, 1);
    request.argument = 0;
    ReplyReport reply{};
    const std::int32_t outcome = UnjudgedReportExchange(deviceSession, request, reply);
    if (outcome != LINK_OK) {
        return outcome;
    }
    if (reply.status == STATUS_ERROR) {
        return static_cast<std::int32_t>(reply.ErrorCode());
    }
    return reply.result == 0 ? LINK_OK : ERROR_FUNCTION_FAILED;
}

// 5d: write address 0, judged by the standard rule.
std::int32_t SetWriteAddress() {
    RequestReport request = MakeRequest(CMD_SET_ADDRESS, 9);
    request.argument = 1;
    const std::uint32_t words[2] = {0x00000000, LINK_GUARD};
    std::memcpy(request.data, words, sizeof words);
    ReplyReport reply{};
    return ReportExchange(deviceSession, request, reply);
}

// 5f: each request is sent only while a unit is open and its reply read only once it
// was written (UnjudgedReportExchange does both); nothing here decides the outcome.
void WindDown() {
    RequestReport protect = MakeRequest(CMD_WRITE_PROTECT, 1);
    protect.argument = 1;
    ReplyReport reply{};
    (void)UnjudgedReportExchange(deviceSession, protect, reply);

    RequestReport unlock = MakeRequest(CMD_SYSTEM_LOCK, 1);
    unlock.argument = 0;
    (void)UnjudgedReportExchange(deviceSession, unlock, reply);
}

// Bytes are sent as 32-bit words, so a size that is not a multiple of 4 would lose its
// tail without anyone noticing.
bool IsSendableImage(const FirmwareImage& image) {
    return image.bytes != nullptr && image.size != 0 && image.size % 4 == 0;
}

// 5e, the block loop: Succeeded when every block was accepted, otherwise the failure as
// reported.
UpdateResult TransferImage(UpdateView& view, const FirmwareImage& image) {
    view.OpenProgressWindow(view.LoadMessage(IDS_PROGRESS_CAPTION));

    std::uint32_t remaining = image.size;
    const std::uint8_t* position = image.bytes;
    while (remaining != 0) {
        std::int32_t outcome;
        if (remaining >= BLOCK_SIZE) {
            outcome = WriteBlock(deviceSession, position, BLOCK_SIZE / 4);
            remaining -= BLOCK_SIZE;
            position += BLOCK_SIZE;
        } else {
            std::uint8_t lastBlock[BLOCK_SIZE];
            std::memset(lastBlock, BLOCK_FILL, sizeof lastBlock);
            std::memcpy(lastBlock, position, remaining);
            outcome = WriteBlock(deviceSession, lastBlock, remaining / 4);
            remaining = 0;
        }
        if (outcome != LINK_OK) {
            return FailStep(view, IDS_BLOCK_FAILED, outcome, true);
        }
        // Wider than the 32 bits the percentage needs, so that no image size can wrap it.
        const std::uint64_t sent = image.size - remaining;
        view.SetProgress(static_cast<std::uint32_t>(sent * 100 / image.size));
        systemClock->Sleep(STEP_DELAY_MS);
    }

    view.CloseProgressWindow();
    return {};
}

}  // namespace

std::wstring ReportUpdateFailure(UpdateView& view, const std::wstring& text, const std::wstring& caption,
                                 std::int32_t code, std::uint32_t systemError) {
    deviceSession.Reset();
    view.SetUpdateEnabled(false);
    view.UpdateVersionDisplay();

    std::wstring boxText = Bounded(text);
    std::wstring codeLine;
    if (code != LINK_NO_DEVICE) {
        codeLine = FormatCodeLine(view.LoadMessage(IDS_ERROR_CODE_LINE), code, systemError);
        boxText += CODE_LINE_SEPARATOR;
        boxText += codeLine;
    }
    view.ShowErrorBox(Bounded(caption), boxText);
    view.SetStatusText(view.LoadMessage(IDS_UPDATE_FAILED));
    return codeLine;
}

namespace {

UpdateResult RunUpdate(UpdateView& view) {
    // A development build refuses before anything else: its images are not firmware.
    if (IsDevelopmentBuild()) {
        view.EnterPhase(UpdatePhase::Reporting);
        view.ShowErrorBox(view.LoadMessage(IDS_UPDATE_FAILED_CAPTION), DEVELOPMENT_BUILD_REFUSAL);
        return {UpdateOutcome::Refused, 0, L""};
    }

    // 1. A unit must be open, and accepted: one held open after its identification failed
    // may have anything behind it. The failure report gives it up, so that it is examined
    // afresh when it next arrives.
    if (deviceSession.handle == NO_DEVICE_HANDLE || !deviceSession.accepted) {
        return Fail(view, IDS_UNIT_NOT_DETECTED, LINK_NO_DEVICE, systemClock->LastError());
    }
    const std::uint32_t unitToUpdate = deviceSession.openSerial;

    // The ESC behind the unit can change without any USB event (another one connected to
    // the unit's cable). The one the user is about to confirm must be the one the window
    // shows: a unit that does not answer is given up like one that is gone, another ESC
    // is shown as it is, and nothing is asked.
    view.EnterPhase(UpdatePhase::Checking);
    UnitIdentity confirmed;
    if (const std::int32_t code = QueryIdentity(deviceSession, confirmed); code != LINK_OK) {
        return Fail(view, IDS_UNIT_NOT_DETECTED, code, systemClock->LastError());
    }
    if (!SameEscForUpdate(deviceSession, confirmed)) {
        static_cast<UnitIdentity&>(deviceSession) = confirmed;
        view.EnterPhase(UpdatePhase::Reporting);
        view.ShowChangedEsc();
        return {UpdateOutcome::EscChanged, 0, L""};
    }

    // 2. and 3. The questions; anything but OK / Yes leaves everything as it was. The
    // window handles device changes while a question is open, so the unit may be gone
    // or another one open when the answer comes.
    view.EnterPhase(UpdatePhase::Asking);
    if (!view.AskConfirmation(view.LoadMessage(IDS_CONFIRM_CAPTION), view.LoadMessage(IDS_CONFIRM_TEXT))) {
        return {UpdateOutcome::Declined, 0, L""};
    }
    const std::uint16_t installed = deviceSession.escAppInfo.escFirmwareVersion;
    if (installed >= IMAGE_VERSION && installed != NO_FIRMWARE_VERSION &&
        deviceSession.openSerial == unitToUpdate) {
        if (!view.AskYesNo(view.LoadMessage(IDS_NEWER_FIRMWARE_CAPTION), view.LoadMessage(IDS_OLDER_FIRMWARE))) {
            return {UpdateOutcome::Declined, 0, L""};
        }
    }

    // 4. The image. One that cannot be sent as it is is refused before anything reaches
    // the unit; the general failure text is the only honest one for it.
    const FirmwareImage image = firmwareImageLoader(IMAGE_RESOURCE_ID);
    if (!IsSendableImage(image)) {
        return Fail(view, IDS_UPDATE_FAILED, LINK_NO_DEVICE, systemClock->LastError());
    }

    // Only the unit the user confirmed is written to. Another unit opened in the
    // meantime (even one on the same path) could carry another model's ESC; the failure
    // report gives it up, so it is examined afresh when it next arrives.
    if (deviceSession.handle == NO_DEVICE_HANDLE || deviceSession.openSerial != unitToUpdate) {
        return Fail(view, IDS_LOCK_FAILED, LINK_NO_DEVICE, systemClock->LastError());
    }

    // Whatever the front end needs during the sequence is had now, or the update does not
    // begin: nothing may fail for want of it once the ESC is erased. The sequence follows
    // at once, so what is had is given back at its end on every path.
    if (!view.PrepareSequence()) {
        return Fail(view, IDS_PREPARE_FAILED, LINK_NO_DEVICE, systemClock->LastError());
    }

    // 5. The command sequence. From here on every ending closes the update period.
    BeginSequence(view);

    // First the ESC once more: the questions took as long as the user wanted, and
    // another ESC may have been connected meanwhile. Nothing that changes the ESC is
    // sent unless it is still the one confirmed.
    systemClock->Sleep(STEP_DELAY_MS);
    UnitIdentity now;
    std::int32_t outcome = QueryIdentity(deviceSession, now);
    if (outcome != LINK_OK) {
        return FailStep(view, IDS_LOCK_FAILED, outcome, false);
    }
    if (!SameEscForUpdate(confirmed, now)) {
        return FailStepEscChanged(view);
    }

    outcome = SetSystemLock();
    if (outcome != LINK_OK) {
        return FailStep(view, IDS_LOCK_FAILED, outcome, false);
    }

    systemClock->Sleep(STEP_DELAY_MS);
    outcome = LiftWriteProtection();
    if (outcome != LINK_OK) {
        return FailStep(view, IDS_PROTECT_FAILED, outcome, false);
    }

    // The unit needs the full wait after an erase whatever it answered.
    systemClock->Sleep(STEP_DELAY_MS);
    outcome = EraseFirmware(deviceSession);
    systemClock->Sleep(ERASE_DELAY_MS);
    if (outcome != LINK_OK) {
        return FailStep(view, IDS_ERASE_FAILED, outcome, false);
    }

    systemClock->Sleep(STEP_DELAY_MS);
    outcome = SetWriteAddress();
    if (outcome != LINK_OK) {
        return FailStep(view, IDS_ADDRESS_FAILED, outcome, false);
    }

    systemClock->Sleep(STEP_DELAY_MS);
    if (const UpdateResult transfer = TransferImage(view, image); transfer.outcome != UpdateOutcome::Succeeded) {
        return transfer;
    }

    WindDown();
    EndSequence(view);

    // 8. Success. Every block was written, even if the unit left the bus after the last
    // reply and the wind-down failed.
    if (deviceSession.handle != NO_DEVICE_HANDLE) {
        deviceSession.escAppInfo.escFirmwareVersion = IMAGE_VERSION;
    }
    view.SetUpdateEnabled(false);
    view.UpdateVersionDisplay();
    view.SetStatusText(view.LoadMessage(IDS_UPDATE_SUCCEEDED));
    return {};
}

}  // namespace

UpdateResult RunFirmwareUpdate(UpdateView& view) {
    const UpdateResult result = RunUpdate(view);
    view.EnterPhase(UpdatePhase::Ended);
    return result;
}
