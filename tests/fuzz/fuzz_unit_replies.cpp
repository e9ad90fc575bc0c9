// Whatever a unit may answer: the input edits the simulated unit's replies, exchange by
// exchange, sets the report lengths it claims and makes transfers fail, and then the
// unit is identified and, when that succeeds, updated the whole way with a user who
// says yes to everything. Nothing may read or write outside its buffers, no handle may
// be left open, and no request may be longer than a report.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/hid_host.h"
#include "link/link.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"
#include "update/update_view.h"

namespace {

// An update of image 142 takes about 2051 exchanges (the ESC identified twice before the
// lock); edits may reach a little past it.
constexpr std::uint16_t LAST_EXCHANGE = 2100;

class YesView : public UpdateView {
public:
    void EnterPhase(UpdatePhase) override {}
    std::wstring LoadMessage(std::uint16_t) override { return L"%08x %08x"; }
    bool AskConfirmation(const std::wstring&, const std::wstring&) override { return true; }
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return true; }
    void ShowErrorBox(const std::wstring&, const std::wstring&) override {}
    void SetStatusText(const std::wstring&) override {}
    void SetUpdateEnabled(bool) override {}
    void UpdateVersionDisplay() override {}
    void OpenProgressWindow(const std::wstring&) override {}
    void SetProgress(std::uint32_t percent) override {
        if (percent > 100) {
            __builtin_trap();
        }
    }
    void CloseProgressWindow() override {}
    void ShowChangedEsc() override {}
    bool PrepareSequence() override { return true; }
};

struct Edit {
    std::uint8_t offset;
    std::vector<std::uint8_t> bytes;
};

std::uint16_t ClaimedLength(FuzzedDataProvider& input) {
    // Mostly what a unit has, sometimes anything, so that the bounds are met and missed.
    return input.ConsumeBool() ? REPORT_SIZE : input.ConsumeIntegralInRange<std::uint16_t>(0, 70);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    placeholderImagesAllowed = true;  // the simulated unit takes the build's images
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FakeClock clock;
    SimHidHost host(clock);
    host.setLastError = [&clock](std::uint32_t error) { clock.lastError = error; };
    SimConfig config;
    config.productId = input.ConsumeBool() ? PRODUCT_TUNE_BOX : PRODUCT_TUNEPUCK;
    config.outReportLength = ClaimedLength(input);
    config.inReportLength = ClaimedLength(input);
    SimulatedUnit& unit = host.Plug(SimUnitPath(config.productId), config);

    std::map<std::size_t, std::vector<Edit>> edits;
    while (input.remaining_bytes() > 0) {
        const std::uint16_t exchange = input.ConsumeIntegralInRange<std::uint16_t>(0, LAST_EXCHANGE);
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            unit.faults[exchange] = {SimFault::Kind::WriteFails, 0, 31};
            break;
        case 1:
            unit.faults[exchange] = {SimFault::Kind::ReadFails, 0, 1167};
            break;
        case 2:
            unit.faults[exchange] = {SimFault::Kind::NoReply, 0, 1460};
            break;
        case 3:
            unit.faults[exchange] = {SimFault::Kind::ErrorReply, input.ConsumeIntegral<std::uint32_t>(), 0};
            break;
        default: {
            Edit edit;
            edit.offset = input.ConsumeIntegralInRange<std::uint8_t>(0, REPORT_SIZE - 1);
            edit.bytes = input.ConsumeBytes<std::uint8_t>(
                input.ConsumeIntegralInRange<std::size_t>(1, REPORT_SIZE - edit.offset));
            if (!edit.bytes.empty()) {
                edits[exchange].push_back(std::move(edit));
            }
            break;
        }
        }
    }
    unit.editReply = [&unit, &edits](const std::uint8_t*, std::uint8_t* reply) {
        const auto found = edits.find(unit.exchanges - 1);
        if (found == edits.end()) {
            return;
        }
        for (const Edit& edit : found->second) {
            std::memcpy(reply + edit.offset, edit.bytes.data(), edit.bytes.size());
        }
    };

    hidHost = &host;
    systemClock = &clock;
    deviceSession.Reset();
    if (OpenUnit(deviceSession) == LINK_OK) {
        deviceSession.accepted = true;  // as the window's check would, whatever it was told
        YesView view;
        RunFirmwareUpdate(view);
    }
    deviceSession.Reset();
    for (const SimRequest& request : unit.requests) {
        if (request.length > REPORT_SIZE) {
            __builtin_trap();
        }
    }
    if (host.OpenHandleCount() != 0 || host.ListCount() != 0) {
        __builtin_trap();
    }
    hidHost = nullptr;
    systemClock = nullptr;
    return 0;
}
