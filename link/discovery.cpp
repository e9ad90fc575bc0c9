// Finding the programming unit among the HID devices present and opening it.
#include <algorithm>
#include <memory>
#include <string>

#include "link/device_session.h"
#include "link/link.h"
#include "link/hid_host.h"

namespace {

bool IsUnit(const HidAttributes& attributes) {
    return attributes.vendorId == UNIT_VENDOR_ID &&
           (attributes.productId == PRODUCT_TUNEPUCK || attributes.productId == PRODUCT_TUNE_BOX);
}

// Report lengths a unit needs for the commands sent to it, and that fit the buffers.
bool ReportLengthsUsable(std::uint32_t outLength, std::uint32_t inLength) {
    return outLength >= MIN_OUT_REPORT_LENGTH && outLength <= MAX_REPORT_LENGTH &&
           inLength >= MIN_IN_REPORT_LENGTH && inLength <= MAX_REPORT_LENGTH;
}

// Numbers every opening of a unit in this run.
std::uint32_t openings = 0;

// Set by OpenUnit when it met a unit it was not allowed to open, or one another program
// holds.
bool unitDenied = false;
bool unitBusy = false;

}  // namespace

std::int32_t OpenUnit(DeviceSession& session) {
    session.Reset();
    unitDenied = false;
    unitBusy = false;
    if (hidHost == nullptr) {
        return LINK_NO_DEVICE;
    }
    HidInterfaceList* list = hidHost->GetInterfaceList();
    if (list == nullptr) {
        return LINK_NO_DEVICE;
    }
    for (std::uint32_t index = 0; hidHost->HasInterface(list, index); ++index) {
        std::wstring path;
        if (!hidHost->GetInterfacePath(list, index, path)) {
            continue;
        }
        const DeviceHandle handle = hidHost->Open(path);
        if (handle == NO_DEVICE_HANDLE) {
            // Only the list can tell what a device is that may not be opened.
            HidAttributes listed{};
            const bool denied = hidHost->LastOpenDenied();
            const bool busy = hidHost->LastOpenBusy();
            if ((denied || busy) && hidHost->GetListedAttributes(list, index, listed) && IsUnit(listed)) {
                unitDenied = unitDenied || denied;
                unitBusy = unitBusy || busy;
            }
            continue;
        }
        HidAttributes attributes{};
        if (!hidHost->GetAttributes(handle, attributes) || !IsUnit(attributes)) {
            hidHost->Close(handle);
            continue;
        }
        session.productId = attributes.productId;
        session.handle = handle;
        session.openSerial = ++openings;
        session.devicePath = std::make_unique<wchar_t[]>(path.size() + 1);
        std::copy(path.begin(), path.end(), session.devicePath.get());
        session.devicePath[path.size()] = L'\0';
        hidHost->DestroyInterfaceList(list);
        return IdentifyUnit(session);
    }
    hidHost->DestroyInterfaceList(list);
    return LINK_UNIT_NOT_FOUND;
}

bool UnitDeniedAtLastOpen() {
    return unitDenied;
}

bool UnitBusyAtLastOpen() {
    return unitBusy;
}

bool ReadReportLengths(DeviceSession& session) {
    if (hidHost == nullptr) {
        return false;
    }
    HidReportLengths lengths{};
    if (!hidHost->GetReportLengths(session.handle, lengths)) {
        return false;
    }
    // A unit whose reports cannot carry a block or the longest reply, or would not fit
    // the buffers, is refused rather than talked to.
    if (!ReportLengthsUsable(lengths.outputReportByteLength, lengths.inputReportByteLength)) {
        return false;
    }
    session.outReportLength = lengths.outputReportByteLength;
    session.inReportLength = lengths.inputReportByteLength;
    return true;
}
