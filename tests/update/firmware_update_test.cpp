// The update procedure against the simulated unit, a recording window and a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/link.h"
#include "link/hid_host.h"
#include "res/catalogue.h"
#include "res/resource.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"

namespace {

// What the error box shows before the two numbers of its code line (English).
const std::wstring CODE_LINE_PREFIX = L"The system shows following errorcode: ";

std::wstring Text(std::uint16_t id) {
    const wchar_t* text = CatalogueText(id, CatalogueLanguage::English);
    return text != nullptr ? text : L"";
}

// ---------------------------------------------------------------------------------------
// One timeline of everything the procedure does to the window and the clock, each entry
// stamped with the number of requests the unit had been sent by then.

enum class Ev {
    Sleep, Begin, End, Confirm, YesNo, Box, Status, Enable, Versions, Open, Progress, Close, Phase, Changed, Prepare
};

struct Event {
    Ev kind;
    std::uint32_t value = 0;  // ms of a sleep, percent, enabled
    std::wstring caption{};
    std::wstring text{};
    std::size_t sent = 0;
};

struct Timeline {
    std::vector<Event> events;
    std::function<std::size_t()> sent = [] { return std::size_t{0}; };

    void Add(Event event) {
        event.sent = sent();
        events.push_back(std::move(event));
    }
    std::vector<Event> Of(Ev kind) const {
        std::vector<Event> found;
        std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                     [kind](const Event& event) { return event.kind == kind; });
        return found;
    }
    std::size_t Count(Ev kind) const { return Of(kind).size(); }
    // The kinds in order, sleeps and phases left out.
    std::vector<Ev> WindowKinds() const {
        std::vector<Ev> kinds;
        for (const Event& event : events) {
            if (event.kind != Ev::Sleep && event.kind != Ev::Progress && event.kind != Ev::Phase) {
                kinds.push_back(event.kind);
            }
        }
        return kinds;
    }
};

class RecordingClock : public FakeClock {
public:
    explicit RecordingClock(Timeline& timeline) : timeline_(timeline) {}

    // Runs after the wait number n (from 0) of the update, as messages delivered during
    // that wait would.
    std::function<void(std::size_t n)> duringWait;

    void Sleep(std::uint32_t ms) override {
        FakeClock::Sleep(ms);
        timeline_.Add({.kind = Ev::Sleep, .value = ms});
        const std::size_t n = sleepCount_++;
        if (duringWait) {
            duringWait(n);
        }
    }
    void BeginUpdatePeriod() override { timeline_.Add({.kind = Ev::Begin}); }
    void EndUpdatePeriod() override { timeline_.Add({.kind = Ev::End}); }

private:
    Timeline& timeline_;
    std::size_t sleepCount_ = 0;
};

class RecordingView : public UpdateView {
public:
    explicit RecordingView(Timeline& timeline) : timeline_(timeline) {}

    bool confirm = true;
    bool yes = true;
    bool prepares = true;
    std::optional<UpdatePhase> phase;  // the last one entered
    std::function<void()> whileConfirmOpen;
    std::function<void()> whileYesNoOpen;
    std::map<std::uint16_t, std::wstring> textOverrides;

    void EnterPhase(UpdatePhase entered) override {
        phase = entered;
        timeline_.Add({.kind = Ev::Phase, .value = static_cast<std::uint32_t>(entered)});
    }
    std::wstring LoadMessage(std::uint16_t id) override {
        auto it = textOverrides.find(id);
        return it != textOverrides.end() ? it->second : Text(id);
    }
    bool AskConfirmation(const std::wstring& caption, const std::wstring& text) override {
        timeline_.Add({.kind = Ev::Confirm, .caption = caption, .text = text});
        if (whileConfirmOpen) {
            whileConfirmOpen();
        }
        return confirm;
    }
    bool AskYesNo(const std::wstring& caption, const std::wstring& text) override {
        timeline_.Add({.kind = Ev::YesNo, .caption = caption, .text = text});
        if (whileYesNoOpen) {
            whileYesNoOpen();
        }
        return yes;
    }
    void ShowErrorBox(const std::wstring& caption, const std::wstring& text) override {
        timeline_.Add({.kind = Ev::Box, .caption = caption, .text = text});
    }
    void SetStatusText(const std::wstring& text) override {
        timeline_.Add({.kind = Ev::Status, .text = text});
    }
    void SetUpdateEnabled(bool enabled) override {
        timeline_.Add({.kind = Ev::Enable, .value = enabled ? 1u : 0u});
    }
    void UpdateVersionDisplay() override { timeline_.Add({.kind = Ev::Versions}); }
    void OpenProgressWindow(const std::wstring& caption) override {
        timeline_.Add({.kind = Ev::Open, .caption = caption});
    }
    void SetProgress(std::uint32_t percent) override {
        timeline_.Add({.kind = Ev::Progress, .value = percent});
    }
    void CloseProgressWindow() override { timeline_.Add({.kind = Ev::Close}); }
    void ShowChangedEsc() override { timeline_.Add({.kind = Ev::Changed}); }
    bool PrepareSequence() override {
        timeline_.Add({.kind = Ev::Prepare});
        return prepares;
    }

private:
    Timeline& timeline_;
};

// ---------------------------------------------------------------------------------------
// Images that the tests hand the procedure in place of the store's.

std::vector<std::uint8_t> syntheticImage;
std::uint16_t requestedImageId = 0;

FirmwareImage SyntheticImageLoader(std::uint16_t id) {
    requestedImageId = id;
    return {syntheticImage.data(), static_cast<std::uint32_t>(syntheticImage.size())};
}

// Bytes that differ from block to block and are never the fill value.
void UseSyntheticImage(std::size_t size) {
    syntheticImage.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
        syntheticImage[i] = static_cast<std::uint8_t>((i * 37 + 11) % 251);
    }
    firmwareImageLoader = SyntheticImageLoader;
}

// Before the sequence's own commands the ESC of a ready unit is identified twice, three
// exchanges each: when the update begins, and as the sequence's first step. The fixture
// counts exchanges from the lock on; these come before it.
constexpr std::size_t CHECK_EXCHANGES = 6;
// Four full blocks and a short one of four words: exchanges 0 lock, 1 protection off,
// 2 erase, 3 address, 4..8 blocks, 9 protection on, 10 lock reset.
constexpr std::size_t SMALL_IMAGE_SIZE = 4 * 48 + 16;
constexpr std::size_t SMALL_IMAGE_EXCHANGES = 11;

// ---------------------------------------------------------------------------------------

class FirmwareUpdateTest : public ::testing::Test {
protected:
    Timeline timeline;
    RecordingClock clock{timeline};
    SimHidHost host{clock};
    RecordingView view{timeline};
    std::wstring unitPath = SimUnitPath(PRODUCT_TUNE_BOX);
    SimulatedUnit* unit = nullptr;
    std::size_t exchangesBefore = 0;
    std::size_t readsBefore = 0;
    std::size_t writesBefore = 0;
    UpdateResult result{UpdateOutcome::Declined, 0xFFFF, L"none yet"};  // the last run's

    virtual SimConfig UnitConfig() const { return SimConfig{}; }

    void SetUp() override {
        systemClock = &clock;
        hidHost = &host;
        host.setLastError = [this](std::uint32_t error) { clock.lastError = error; };
        // What the main dialog does when its unit leaves the bus: while a question is
        // open it gives the unit up; once the sequence runs the removal waits for its end.
        host.onUnplug = [this](const std::wstring& path) {
            if (view.phase == UpdatePhase::Asking && deviceSession.devicePath &&
                path == deviceSession.devicePath.get()) {
                deviceSession.Reset();
            }
        };
        placeholderImagesAllowed = true;  // the simulated unit takes the build's images
        unit = &host.Plug(unitPath, UnitConfig());
        ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
        deviceSession.accepted = true;  // as the window's connection check does
        exchangesBefore = unit->exchanges + CHECK_EXCHANGES;
        readsBefore = host.readCalls + CHECK_EXCHANGES;
        writesBefore = host.writeCalls + CHECK_EXCHANGES;
        timeline.sent = [this] { return Sent(); };
        clock.lastError = 0;
        UseSyntheticImage(SMALL_IMAGE_SIZE);
    }

    void TearDown() override {
        deviceSession.Reset();
        placeholderImagesAllowed = false;
        firmwareImageLoader = LoadFirmwareImage;
        hidHost = nullptr;
        systemClock = nullptr;
    }

    // Exchanges from the lock on; 0 before it.
    std::size_t Sent() const { return unit->exchanges > exchangesBefore ? unit->exchanges - exchangesBefore : 0; }
    // Exchanges since the update began, the identifications included.
    std::size_t SentInAll() const { return unit->exchanges - (exchangesBefore - CHECK_EXCHANGES); }
    std::size_t Reads() const { return host.readCalls - readsBefore; }
    // The requests of this update as the unit received them.
    std::vector<SimRequest> Requests() const {
        const std::size_t identification = unit->requests.size() - std::min(unit->requests.size(), Sent());
        return {unit->requests.begin() + static_cast<std::ptrdiff_t>(identification), unit->requests.end()};
    }

    // A fault at the exchange with this index, counted from the update's first.
    void FaultAt(std::size_t exchange, SimFault fault) { unit->faults[exchangesBefore + exchange] = fault; }

    // Rewrites the reply to the exchange with this index.
    void EditReplyAt(std::size_t exchange, std::function<void(std::uint8_t* reply)> edit) {
        unit->editReply = [this, exchange, edit](const std::uint8_t*, std::uint8_t* reply) {
            if (unit->exchanges - 1 - exchangesBefore == exchange) {
                edit(reply);
            }
        };
    }

    void RemoveUnitDuringSleep(std::size_t n) {
        clock.duringWait = [this, n](std::size_t sleep) {
            if (sleep == n) {
                host.Unplug(unitPath);
            }
        };
    }

    // The update period opens before the first request and closes after the last one,
    // once, before the outcome is shown; or it never opens.
    void ExpectPeriod(bool started) {
        const auto begins = timeline.Of(Ev::Begin);
        const auto ends = timeline.Of(Ev::End);
        // A failure before the sequence sent nothing that changes the ESC: refused.
        if (result.outcome == UpdateOutcome::Failed) {
            EXPECT_TRUE(started) << "failed without a sequence";
        }
        if (result.outcome == UpdateOutcome::Refused) {
            EXPECT_FALSE(started) << "refused after the sequence began";
        }
        if (!started) {
            EXPECT_TRUE(begins.empty());
            EXPECT_TRUE(ends.empty());
            return;
        }
        ASSERT_EQ(begins.size(), 1u);
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(begins[0].sent, 0u);
        EXPECT_EQ(ends[0].sent, Sent());
        const auto kinds = timeline.WindowKinds();
        const auto end = std::find(kinds.begin(), kinds.end(), Ev::End);
        const auto outcome = std::find(kinds.begin(), kinds.end(), Ev::Enable);
        EXPECT_LT(end, outcome) << "the period ends before the outcome is shown";
    }

    // The one failure report, with its box, after nothing else was sent.
    void ExpectFailure(std::uint16_t textId, const wchar_t* codeLine) {
        EXPECT_TRUE(result.outcome == UpdateOutcome::Failed || result.outcome == UpdateOutcome::Refused);
        EXPECT_EQ(result.failureText, textId);
        EXPECT_EQ(result.codeLine, codeLine != nullptr ? CODE_LINE_PREFIX + codeLine : L"");
        std::wstring boxText = Text(textId);
        if (codeLine != nullptr) {
            boxText += L"\r\n" + CODE_LINE_PREFIX + codeLine;
        }
        ExpectFailureBox(boxText);
    }

    void ExpectFailureBox(const std::wstring& boxText) {
        const auto kinds = timeline.WindowKinds();
        ASSERT_GE(kinds.size(), 4u);
        EXPECT_EQ(std::vector<Ev>(kinds.end() - 4, kinds.end()),
                  (std::vector<Ev>{Ev::Enable, Ev::Versions, Ev::Box, Ev::Status}));
        const auto boxes = timeline.Of(Ev::Box);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, Text(IDS_UPDATE_FAILED_CAPTION));
        EXPECT_EQ(boxes[0].text, boxText);
        EXPECT_EQ(timeline.Of(Ev::Enable).back().value, 0u);
        EXPECT_EQ(timeline.Of(Ev::Status).back().text, Text(IDS_UPDATE_FAILED));
        EXPECT_EQ(timeline.Count(Ev::Status), 1u);
        EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_EQ(deviceSession.devicePath, nullptr);
        EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, 0u);
        EXPECT_EQ(host.OpenHandleCount(), 0u);
    }

    void ExpectSuccess() {
        EXPECT_EQ(result.outcome, UpdateOutcome::Succeeded);
        const auto kinds = timeline.WindowKinds();
        ASSERT_GE(kinds.size(), 4u);
        EXPECT_EQ(std::vector<Ev>(kinds.end() - 4, kinds.end()),
                  (std::vector<Ev>{Ev::End, Ev::Enable, Ev::Versions, Ev::Status}));
        EXPECT_EQ(timeline.Count(Ev::Box), 0u);
        EXPECT_EQ(timeline.Of(Ev::Enable).back().value, 0u);
        EXPECT_EQ(timeline.Of(Ev::Status).back().text, Text(IDS_UPDATE_SUCCEEDED));
        EXPECT_EQ(timeline.Count(Ev::Status), 1u);
    }

    // The progress window opened once before the first block and closed once before the
    // outcome.
    void ExpectProgressWindowClosed() {
        const auto opens = timeline.Of(Ev::Open);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].caption, Text(IDS_PROGRESS_CAPTION));
        EXPECT_EQ(opens[0].sent, 4u);
        EXPECT_EQ(timeline.Count(Ev::Close), 1u);
        const auto kinds = timeline.WindowKinds();
        EXPECT_LT(std::find(kinds.begin(), kinds.end(), Ev::Close),
                  std::find(kinds.begin(), kinds.end(), Ev::Enable));
    }

    // The waits of the sequence before the blocks, each with the requests sent by then.
    static std::vector<std::pair<std::uint32_t, std::size_t>> WaitsBeforeBlocks() {
        return {{20, 0}, {20, 1}, {20, 2}, {1000, 3}, {4000, 3}, {20, 3}, {20, 4}};
    }
    std::vector<std::pair<std::uint32_t, std::size_t>> Waits() const {
        std::vector<std::pair<std::uint32_t, std::size_t>> waits;
        for (const Event& event : timeline.Of(Ev::Sleep)) {
            waits.emplace_back(event.value, event.sent);
        }
        return waits;
    }
    std::vector<std::uint32_t> ProgressValues() const {
        std::vector<std::uint32_t> values;
        for (const Event& event : timeline.Of(Ev::Progress)) {
            values.push_back(event.value);
        }
        return values;
    }

    // Every block request carries its 48 bytes (image, then fill) and counts the image's.
    void ExpectBlocksCarry(const std::uint8_t* image, std::uint32_t size) {
        const auto requests = Requests();
        const std::size_t blocks = (size + 47) / 48;
        ASSERT_EQ(requests.size(), 4 + blocks + 2);
        for (std::size_t b = 0; b < blocks; ++b) {
            const SimRequest& request = requests[4 + b];
            const std::size_t offset = b * 48;
            const std::size_t counted = std::min<std::size_t>(48, size - offset);
            ASSERT_EQ(request.bytes[1], CMD_WRITE_BLOCK) << "block " << b;
            ASSERT_EQ(request.bytes[2], counted) << "block " << b;
            ASSERT_EQ(0, std::memcmp(request.bytes + 4, image + offset, counted)) << "block " << b;
            for (std::size_t i = counted; i < 48; ++i) {
                ASSERT_EQ(request.bytes[4 + i], BLOCK_FILL) << "block " << b << " byte " << i;
            }
        }
        ASSERT_GE(unit->flash.size(), size);
        EXPECT_TRUE(std::equal(image, image + size, unit->flash.begin()));
    }
};

// ---------------------------------------------------------------------------------------
// Success

TEST_F(FirmwareUpdateTest, Image142IsWrittenWithTheWorkedCaseProgressAndWaits) {
    firmwareImageLoader = LoadFirmwareImage;
    const FirmwareImage image = LoadFirmwareImage(IMAGE_RESOURCE_ID);
    ASSERT_NE(image.bytes, nullptr);
    ASSERT_EQ(image.size, 97760u);

    result = RunFirmwareUpdate(view);

    ExpectSuccess();
    ExpectPeriod(true);
    ExpectProgressWindowClosed();
    ASSERT_EQ(Sent(), 4u + 2037u + 2u);
    EXPECT_EQ(unit->blocksWritten, 2037u);
    ExpectBlocksCarry(image.bytes, image.size);
    const auto requests = Requests();
    const SimRequest& last = requests[4 + 2036];
    EXPECT_EQ(last.bytes[2], 32);
    EXPECT_TRUE(std::all_of(last.bytes + 4 + 32, last.bytes + 4 + 48, [](std::uint8_t b) { return b == 0xFF; }));

    const auto progress = ProgressValues();
    ASSERT_EQ(progress.size(), 2037u);
    EXPECT_EQ(progress[0], 0u);
    EXPECT_EQ(progress[99], 4u);
    EXPECT_EQ(progress[2035], 99u);
    EXPECT_EQ(progress[2036], 100u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    auto expected = WaitsBeforeBlocks();
    for (std::size_t block = 1; block <= 2037; ++block) {
        expected.emplace_back(20, 4 + block);
    }
    EXPECT_EQ(Waits(), expected);

    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, IMAGE_VERSION);
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_FALSE(unit->systemLock);
    EXPECT_TRUE(unit->writeProtected);
}

// Every request of the sequence, byte for byte.
TEST_F(FirmwareUpdateTest, SequenceSendsEachStepsRequestInOrder) {
    result = RunFirmwareUpdate(view);

    ExpectSuccess();
    EXPECT_EQ(requestedImageId, IMAGE_RESOURCE_ID);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), SMALL_IMAGE_EXCHANGES);
    struct Expected {
        std::size_t index;
        std::uint8_t command, length, argument;
        std::vector<std::uint8_t> data;
    };
    const Expected expected[] = {
        {0, CMD_SYSTEM_LOCK, 1, 1, {}},
        {1, CMD_WRITE_PROTECT, 1, 0, {}},
        {2, CMD_ERASE, 4, 0, {0xD1, 0xA9, 0xC7, 0x5E}},
        {3, CMD_SET_ADDRESS, 9, 1, {0, 0, 0, 0, 0xD1, 0xA9, 0xC7, 0x5E}},
        {9, CMD_WRITE_PROTECT, 1, 1, {}},
        {10, CMD_SYSTEM_LOCK, 1, 0, {}},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.index);
        const std::uint8_t* bytes = requests[e.index].bytes;
        EXPECT_EQ(bytes[0], REPORT_ID_REQUEST);
        EXPECT_EQ(bytes[1], e.command);
        EXPECT_EQ(bytes[2], e.length);
        EXPECT_EQ(bytes[3], e.argument);
        EXPECT_TRUE(std::equal(e.data.begin(), e.data.end(), bytes + 4));
        // Nothing else is set: the rest of the report is zero, not an earlier reply.
        EXPECT_TRUE(std::all_of(bytes + 4 + e.data.size(), bytes + REPORT_SIZE,
                                [](std::uint8_t b) { return b == 0; }));
    }
    // The wind-down follows the last block's wait at once.
    const auto waits = Waits();
    ASSERT_FALSE(waits.empty());
    EXPECT_EQ(waits.back(), (std::pair<std::uint32_t, std::size_t>{20, 9}));
}

struct LayoutCase {
    std::uint32_t size;
    std::uint8_t lastLength;
    std::vector<std::uint32_t> progress;
};

class BlockLayoutTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(BlockLayoutTest, BlocksFillAndProgress) {
    const LayoutCase& c = GetParam();
    UseSyntheticImage(c.size);

    result = RunFirmwareUpdate(view);

    ExpectSuccess();
    ExpectBlocksCarry(syntheticImage.data(), c.size);
    const auto requests = Requests();
    EXPECT_EQ(requests[4 + c.progress.size() - 1].bytes[2], c.lastLength);
    EXPECT_EQ(ProgressValues(), c.progress);
    auto expected = WaitsBeforeBlocks();
    for (std::size_t block = 1; block <= c.progress.size(); ++block) {
        expected.emplace_back(20, 4 + block);
    }
    EXPECT_EQ(Waits(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockLayoutTest,
    ::testing::Values(LayoutCase{5 * 48, 48, {20, 40, 60, 80, 100}},  // a multiple of 48: no short block
                      LayoutCase{SMALL_IMAGE_SIZE, 16, {23, 46, 69, 92, 100}},
                      LayoutCase{48 + 32, 32, {60, 100}},
                      LayoutCase{16, 16, {100}},  // only a short block
                      LayoutCase{48, 48, {100}}));

// The unit pulled in the wait after the last block: every block was taken, so the update
// succeeded although the wind-down reaches nobody. The removal itself is the window's to
// handle once the update has ended.
TEST_F(FirmwareUpdateTest, PullAfterLastBlockStillSucceeds) {
    RemoveUnitDuringSleep(7 + 4);

    result = RunFirmwareUpdate(view);

    ExpectSuccess();
    ExpectPeriod(true);
    EXPECT_EQ(Sent(), 4u + 5u) << "the wind-down requests were not taken";
    EXPECT_EQ(host.writeCalls - writesBefore, 4u + 5u + 2u) << "but both were tried";
    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, IMAGE_VERSION);
}

// ---------------------------------------------------------------------------------------
// Failures

enum class Cause { Fault, RemovalInWait };

struct FailureCase {
    const char* name;
    Cause cause;
    std::size_t at;  // exchange index for a fault, wait index for a removal
    SimFault fault;
    std::size_t sent;       // requests written or attempted in the whole update
    std::uint16_t text;
    const wchar_t* codeLine;  // null: the text alone
};

class FailureTableTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<FailureCase> {};

using K = SimFault::Kind;

// Waits: 0 before the sequence's identification, 1 before 5b, 2 before 5c, 3 inside the
// erase, 4 after the erase, 5 before 5d, 6 before 5e, 7.. after each block.
const FailureCase FAILURE_TABLE[] = {
    {"LockWriteFails", Cause::Fault, 0, {K::WriteFails, 0, 5}, 1, IDS_LOCK_FAILED, L"0xfffffffe-0x00000005"},
    {"LockReadFails", Cause::Fault, 0, {K::ReadFails, 0, 0}, 1, IDS_LOCK_FAILED, L"0xfffffffd-0x00000000"},
    {"ProtectUnitPulled", Cause::RemovalInWait, 1, {}, 1, IDS_PROTECT_FAILED, L"0xfffffffe-0x0000048f"},
    {"ProtectWriteFails", Cause::Fault, 1, {K::WriteFails, 0, 31}, 2, IDS_PROTECT_FAILED, L"0xfffffffe-0x0000001f"},
    {"ProtectReadFails", Cause::Fault, 1, {K::ReadFails, 0, 0}, 2, IDS_PROTECT_FAILED, L"0xfffffffd-0x00000000"},
    {"ProtectErrorReply", Cause::Fault, 1, {K::ErrorReply, 0x102, 0}, 2, IDS_PROTECT_FAILED, L"0x00000102-0x00000000"},
    {"EraseUnitPulled", Cause::RemovalInWait, 2, {}, 2, IDS_ERASE_FAILED, L"0xfffffffe-0x0000048f"},
    {"EraseWriteFails", Cause::Fault, 2, {K::WriteFails, 0, 1167}, 3, IDS_ERASE_FAILED, L"0xfffffffe-0x0000048f"},
    {"EraseReadFails", Cause::Fault, 2, {K::ReadFails, 0, 0}, 3, IDS_ERASE_FAILED, L"0xfffffffd-0x00000000"},
    {"EraseReplyTimesOut", Cause::Fault, 2, {K::NoReply, 0, 1460}, 3, IDS_ERASE_FAILED, L"0xfffffffd-0x000005b4"},
    {"EraseErrorReply", Cause::Fault, 2, {K::ErrorReply, 0x102, 0}, 3, IDS_ERASE_FAILED, L"0x00000102-0x00000000"},
    // Gone while the unit erases: the pending reply cannot be read.
    {"EraseUnitGoneBeforeReply", Cause::RemovalInWait, 3, {}, 3, IDS_ERASE_FAILED, L"0xfffffffd-0x0000048f"},
    {"AddressUnitPulledAfterErase", Cause::RemovalInWait, 4, {}, 3, IDS_ADDRESS_FAILED, L"0xfffffffe-0x0000048f"},
    {"AddressUnitPulled", Cause::RemovalInWait, 5, {}, 3, IDS_ADDRESS_FAILED, L"0xfffffffe-0x0000048f"},
    {"AddressWriteFails", Cause::Fault, 3, {K::WriteFails, 0, 0}, 4, IDS_ADDRESS_FAILED, L"0xfffffffe-0x00000000"},
    {"AddressReadFails", Cause::Fault, 3, {K::ReadFails, 0, 0}, 4, IDS_ADDRESS_FAILED, L"0xfffffffd-0x00000000"},
    {"AddressErrorReply", Cause::Fault, 3, {K::ErrorReply, 0x80000001, 0}, 4, IDS_ADDRESS_FAILED, L"0x80000001-0x00000000"},
    {"FirstBlockUnitPulled", Cause::RemovalInWait, 6, {}, 4, IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"},
    {"SecondBlockUnitPulled", Cause::RemovalInWait, 7, {}, 5, IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"},
    {"LastBlockUnitPulled", Cause::RemovalInWait, 10, {}, 8, IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"},
    {"FirstBlockWriteFails", Cause::Fault, 4, {K::WriteFails, 0, 0}, 5, IDS_BLOCK_FAILED, L"0xfffffffe-0x00000000"},
    {"MiddleBlockReadFails", Cause::Fault, 6, {K::ReadFails, 0, 0}, 7, IDS_BLOCK_FAILED, L"0xfffffffd-0x00000000"},
    {"LastBlockErrorReply", Cause::Fault, 8, {K::ErrorReply, 0x105, 0}, 9, IDS_BLOCK_FAILED, L"0x00000105-0x00000000"},
};

TEST_P(FailureTableTest, ReportsTheStepAndStops) {
    const FailureCase& c = GetParam();
    if (c.cause == Cause::Fault) {
        FaultAt(c.at, c.fault);
    } else {
        RemoveUnitDuringSleep(c.at);
    }

    result = RunFirmwareUpdate(view);

    ExpectFailure(c.text, c.codeLine);
    ExpectPeriod(true);
    EXPECT_EQ(Sent(), c.sent) << "nothing is sent after the failing exchange";
    if (c.text == IDS_BLOCK_FAILED) {
        ExpectProgressWindowClosed();
    } else {
        EXPECT_EQ(timeline.Count(Ev::Open), 0u);
    }
    if (c.text == IDS_ERASE_FAILED) {
        // The erase costs its full wait whatever it answered, before anything is shown.
        const auto waits = Waits();
        ASSERT_FALSE(waits.empty());
        EXPECT_EQ(waits.back(), (std::pair<std::uint32_t, std::size_t>{ERASE_DELAY_MS, c.sent}));
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, FailureTableTest, ::testing::ValuesIn(FAILURE_TABLE),
                         [](const auto& info) { return std::string(info.param.name); });

// How each step judges its reply: the unit's answer rewritten at one exchange.
struct ReplyCase {
    const char* name;
    std::size_t exchange;
    std::uint8_t status;
    std::uint8_t result;
    std::uint32_t errorCode;
    std::uint16_t text;       // 0: the update succeeds
    const wchar_t* codeLine;
};

class ReplyJudgementTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<ReplyCase> {};

const ReplyCase REPLY_TABLE[] = {
    {"LockResultZero", 0, 0x00, 0, 0, IDS_LOCK_FAILED, L"0x0000065b-0x00000000"},
    {"LockResultTwo", 0, 0x00, 2, 0, IDS_LOCK_FAILED, L"0x0000065b-0x00000000"},
    {"LockErrorStatusIgnored", 0, 0xFF, 1, 0x102, 0, nullptr},
    {"ProtectErrorCodeZeroAccepted", 1, 0xFF, 7, 0, 0, nullptr},
    {"ProtectResultOne", 1, 0x00, 1, 0, IDS_PROTECT_FAILED, L"0x0000065b-0x00000000"},
    {"ProtectErrorCode", 1, 0xFF, 0, 0x102, IDS_PROTECT_FAILED, L"0x00000102-0x00000000"},
    {"EraseErrorCodeZeroAccepted", 2, 0xFF, 0, 0, 0, nullptr},
    {"EraseResultIgnored", 2, 0x00, 9, 0xFFFFFFFF, 0, nullptr},
    {"AddressOtherBytesIgnored", 3, 0x7F, 5, 0xDEADBEEF, 0, nullptr},
    {"AddressErrorCodeZeroAccepted", 3, 0xFF, 3, 0, 0, nullptr},
    {"AddressErrorCode", 3, 0xFF, 0, 0x55, IDS_ADDRESS_FAILED, L"0x00000055-0x00000000"},
    {"BlockErrorCodeZeroAccepted", 4, 0xFF, 3, 0, 0, nullptr},
    {"BlockResultIgnored", 8, 0x00, 3, 0x105, 0, nullptr},
    {"WindDownRepliesIgnored", 9, 0xFF, 1, 0x102, 0, nullptr},
    {"LockResetReplyIgnored", 10, 0xFF, 1, 0x102, 0, nullptr},
};

TEST_P(ReplyJudgementTest, AcceptsOrRefuses) {
    const ReplyCase& c = GetParam();
    EditReplyAt(c.exchange, [&c](std::uint8_t* reply) {
        reply[1] = c.status;
        reply[3] = c.result;
        std::memcpy(reply + 4, &c.errorCode, 4);
    });

    result = RunFirmwareUpdate(view);

    ExpectPeriod(true);
    if (c.text == 0) {
        ExpectSuccess();
        EXPECT_EQ(Sent(), SMALL_IMAGE_EXCHANGES);
    } else {
        ExpectFailure(c.text, c.codeLine);
        EXPECT_EQ(Sent(), c.exchange + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, ReplyJudgementTest, ::testing::ValuesIn(REPLY_TABLE),
                         [](const auto& info) { return std::string(info.param.name); });

// A fault of each kind at every exchange of a whole update: the step it hits fails and
// nothing follows; the wind-down's faults change nothing.
struct InjectionCase {
    std::size_t exchange;
    K kind;
};

class FaultInjectionTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<InjectionCase> {};

TEST_P(FaultInjectionTest, FailsAtTheStepHit) {
    const auto [exchange, kind] = GetParam();
    // The step text of each exchange; 0 for the wind-down.
    const std::uint16_t stepText[SMALL_IMAGE_EXCHANGES] = {
        IDS_LOCK_FAILED,  IDS_PROTECT_FAILED, IDS_ERASE_FAILED, IDS_ADDRESS_FAILED,
        IDS_BLOCK_FAILED, IDS_BLOCK_FAILED,   IDS_BLOCK_FAILED, IDS_BLOCK_FAILED,
        IDS_BLOCK_FAILED, 0,                  0};
    FaultAt(exchange, {kind, 0x0000ABCD, 87});

    result = RunFirmwareUpdate(view);

    ExpectPeriod(true);
    if (stepText[exchange] == 0) {
        ExpectSuccess();
        EXPECT_EQ(Sent(), SMALL_IMAGE_EXCHANGES);
        // A request that was not written has no reply to read.
        EXPECT_EQ(Reads(), SMALL_IMAGE_EXCHANGES - (kind == K::WriteFails ? 1 : 0));
        return;
    }
    const wchar_t* codeLine = kind == K::WriteFails   ? L"0xfffffffe-0x00000057"
                              : kind != K::ErrorReply ? L"0xfffffffd-0x00000057"
                              : exchange == 0         ? L"0x0000065b-0x00000000"  // the lock's result decides
                                                      : L"0x0000abcd-0x00000000";
    ExpectFailure(stepText[exchange], codeLine);
    EXPECT_EQ(Sent(), exchange + 1);
}

std::vector<InjectionCase> EveryExchange() {
    std::vector<InjectionCase> cases;
    for (std::size_t exchange = 0; exchange < SMALL_IMAGE_EXCHANGES; ++exchange) {
        for (K kind : {K::WriteFails, K::ReadFails, K::ErrorReply, K::NoReply}) {
            cases.push_back({exchange, kind});
        }
    }
    return cases;
}

std::string KindName(K kind) {
    switch (kind) {
    case K::WriteFails: return "WriteFails";
    case K::ReadFails: return "ReadFails";
    case K::ErrorReply: return "ErrorReply";
    case K::NoReply: return "NoReply";
    default: return "None";
    }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, FaultInjectionTest, ::testing::ValuesIn(EveryExchange()),
                         [](const auto& info) {
                             return "Exchange" + std::to_string(info.param.exchange) + KindName(info.param.kind);
                         });

// The same for blocks of image 142: the first, the second, one in the middle, the last.
class Image142BlockFaultTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<InjectionCase> {};

TEST_P(Image142BlockFaultTest, FailsWithTheBlockText) {
    const auto [block, kind] = GetParam();
    firmwareImageLoader = LoadFirmwareImage;
    FaultAt(4 + block, {kind, 0x0105, 0});

    result = RunFirmwareUpdate(view);

    ExpectFailure(IDS_BLOCK_FAILED, kind == K::WriteFails   ? L"0xfffffffe-0x00000000"
                                    : kind == K::ErrorReply ? L"0x00000105-0x00000000"
                                                            : L"0xfffffffd-0x00000000");
    ExpectPeriod(true);
    ExpectProgressWindowClosed();
    EXPECT_EQ(Sent(), 4 + block + 1);
    EXPECT_EQ(timeline.Count(Ev::Progress), block);
}

std::vector<InjectionCase> SampleBlocks() {
    std::vector<InjectionCase> cases;
    for (std::size_t block : {0u, 1u, 1018u, 2036u}) {
        for (K kind : {K::WriteFails, K::ReadFails, K::ErrorReply}) {
            cases.push_back({block, kind});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Blocks, Image142BlockFaultTest, ::testing::ValuesIn(SampleBlocks()),
                         [](const auto& info) {
                             return "Block" + std::to_string(info.param.exchange) + KindName(info.param.kind);
                         });

// Image 142 losing its unit in the middle of the transfer: in a wait (the removal handler
// runs there and resets the session), or while a block is being written.
struct TransferRemovalCase {
    const char* name;
    bool duringWait;
    std::size_t block;  // the wait after this block, or the write of this block
    std::size_t sent;
    const wchar_t* codeLine;
};

class TransferRemovalTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<TransferRemovalCase> {};

TEST_P(TransferRemovalTest, FailsCleanly) {
    const TransferRemovalCase& c = GetParam();
    firmwareImageLoader = LoadFirmwareImage;
    if (c.duringWait) {
        RemoveUnitDuringSleep(7 + c.block);
    } else {
        unit->unplugAtBlock = static_cast<std::uint32_t>(c.block);
    }

    result = RunFirmwareUpdate(view);

    ExpectFailure(IDS_BLOCK_FAILED, c.codeLine);
    ExpectPeriod(true);
    ExpectProgressWindowClosed();
    EXPECT_EQ(Sent(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Image142, TransferRemovalTest,
    ::testing::Values(TransferRemovalCase{"InWaitAfterBlock1000", true, 1000, 4 + 1001, L"0xfffffffe-0x0000048f"},
                      TransferRemovalCase{"InWaitAfterBlock2035", true, 2035, 4 + 2036, L"0xfffffffe-0x0000048f"},
                      TransferRemovalCase{"WhileBlock300IsWritten", false, 300, 4 + 301, L"0xfffffffe-0x0000048f"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Before the sequence: the unit check, the questions, the image

TEST_F(FirmwareUpdateTest, NoUnitShowsTheTextAloneAndAsksNothing) {
    deviceSession.Reset();
    clock.lastError = 1167;

    result = RunFirmwareUpdate(view);

    EXPECT_EQ(timeline.WindowKinds(), (std::vector<Ev>{Ev::Enable, Ev::Versions, Ev::Box, Ev::Status}));
    ExpectFailure(IDS_UNIT_NOT_DETECTED, nullptr);
    EXPECT_EQ(timeline.Of(Ev::Box).at(0).text,
              L"Update is interrupted, programming unit is not detected. Please verify connection between "
              L"computer and programming unit.");
    ExpectPeriod(false);
    EXPECT_EQ(Sent(), 0u);
}

TEST_F(FirmwareUpdateTest, CancelAtConfirmationChangesNothing) {
    view.confirm = false;
    const std::uint64_t before = clock.now;

    result = RunFirmwareUpdate(view);

    EXPECT_EQ(timeline.WindowKinds(), std::vector<Ev>{Ev::Confirm});
    const Event question = timeline.Of(Ev::Confirm).at(0);
    EXPECT_EQ(question.caption, Text(IDS_CONFIRM_CAPTION));
    EXPECT_EQ(question.text, Text(IDS_CONFIRM_TEXT));
    EXPECT_EQ(Sent(), 0u);
    EXPECT_EQ(clock.now, before);
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, 0x0302);
}

struct VersionCase {
    std::uint16_t version;
    bool asked;
};

class VersionQuestionTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<VersionCase> {
protected:
    SimConfig UnitConfig() const override {
        SimConfig config;
        config.escFirmwareVersion = GetParam().version;
        return config;
    }
};

TEST_P(VersionQuestionTest, AskedOnlyFromTheImageVersionOnAndNoSendsNothing) {
    const VersionCase& c = GetParam();
    ASSERT_EQ(deviceSession.escAppInfo.escFirmwareVersion, c.version);
    view.yes = false;

    result = RunFirmwareUpdate(view);

    if (c.asked) {
        ASSERT_EQ(timeline.WindowKinds(), (std::vector<Ev>{Ev::Confirm, Ev::YesNo}));
        const Event question = timeline.Of(Ev::YesNo)[0];
        EXPECT_EQ(question.caption, Text(IDS_NEWER_FIRMWARE_CAPTION));
        EXPECT_EQ(question.text, Text(IDS_OLDER_FIRMWARE));
        EXPECT_EQ(Sent(), 0u);
        EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, c.version);
        EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    } else {
        EXPECT_EQ(timeline.Count(Ev::YesNo), 0u);
        ExpectSuccess();
        EXPECT_EQ(deviceSession.escAppInfo.escFirmwareVersion, IMAGE_VERSION);
    }
    ExpectPeriod(!c.asked);
}

TEST_P(VersionQuestionTest, YesRunsTheUpdate) {
    result = RunFirmwareUpdate(view);

    EXPECT_EQ(timeline.Count(Ev::YesNo), GetParam().asked ? 1u : 0u);
    ExpectSuccess();
    EXPECT_EQ(Sent(), SMALL_IMAGE_EXCHANGES);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, VersionQuestionTest,
                         ::testing::Values(VersionCase{0x0302, false}, VersionCase{0xFFFF, false},
                                           VersionCase{0x0303, true}, VersionCase{0x0400, true}),
                         [](const auto& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Version%04x", info.param.version);
                             return std::string(name);
                         });

// The unit leaves while a question is open (the removal handler resets the session under
// the procedure), or is found again or replaced meanwhile (the session holds a new
// opening): nothing is sent, not even the lock, and the lock step's text is shown alone.
struct QuestionChangeCase {
    const char* name;
    bool duringConfirmation;
    bool openedAgain;
};

class ChangeDuringQuestionTest : public FirmwareUpdateTest,
                                 public ::testing::WithParamInterface<QuestionChangeCase> {
protected:
    SimConfig UnitConfig() const override {
        SimConfig config;
        config.escFirmwareVersion = 0x0303;  // both questions are asked
        return config;
    }
};

TEST_P(ChangeDuringQuestionTest, FailsAsTheLockStepWithoutSendingAnything) {
    const QuestionChangeCase& c = GetParam();
    const auto change = [this, &c] {
        host.Unplug(unitPath);
        if (c.openedAgain) {
            host.Plug(unitPath, UnitConfig());
            ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
        }
    };
    (c.duringConfirmation ? view.whileConfirmOpen : view.whileYesNoOpen) = change;

    result = RunFirmwareUpdate(view);

    ExpectFailure(IDS_LOCK_FAILED, nullptr);
    ExpectPeriod(false);
    EXPECT_EQ(Sent(), 0u);
    EXPECT_EQ(unit->commandCount[CMD_SYSTEM_LOCK], 0u);
    if (c.openedAgain) {
        ASSERT_NE(host.Unit(unitPath), nullptr);
        EXPECT_EQ(host.Unit(unitPath)->commandCount[CMD_SYSTEM_LOCK], 0u) << "nor to the unit found again";
    }
}

INSTANTIATE_TEST_SUITE_P(Questions, ChangeDuringQuestionTest,
                         ::testing::Values(QuestionChangeCase{"RemovedDuringConfirmation", true, false},
                                           QuestionChangeCase{"RemovedDuringVersionQuestion", false, false},
                                           QuestionChangeCase{"OpenedAgainDuringConfirmation", true, true},
                                           QuestionChangeCase{"OpenedAgainDuringVersionQuestion", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedImageCase {
    const char* name;
    bool bytes;
    std::uint32_t size;
};

class RefusedImageTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<RefusedImageCase> {};

FirmwareImage refusedImage;
FirmwareImage RefusedImageLoader(std::uint16_t) { return refusedImage; }

// An image that cannot be sent as it is ends the update before anything reaches the unit.
TEST_P(RefusedImageTest, FailsBeforeAnyExchange) {
    const RefusedImageCase& c = GetParam();
    static const std::uint8_t bytes[128] = {};
    refusedImage = {c.bytes ? bytes : nullptr, c.size};
    firmwareImageLoader = RefusedImageLoader;

    result = RunFirmwareUpdate(view);

    ExpectFailure(IDS_UPDATE_FAILED, nullptr);
    ExpectPeriod(false);
    EXPECT_EQ(Sent(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, RefusedImageTest,
                         ::testing::Values(RefusedImageCase{"Missing", false, 0}, RefusedImageCase{"NullBytes", false, 96},
                                           RefusedImageCase{"Empty", true, 0},
                                           RefusedImageCase{"NotWholeWords", true, 102}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The ESC behind the unit: asked again when the update begins and as the sequence's first
// step. Another ESC connected to the unit's cable makes no USB event.

// Each field that decides an update, changed behind the unit; and fields that do not.
struct EscChangeCase {
    const char* name;
    void (*change)(SimulatedUnit& unit);
    bool matters;
};

const EscChangeCase ESC_CHANGES[] = {
    {"UnitMode", [](SimulatedUnit& u) { u.config.unitMode = 1; }, true},
    {"EscState", [](SimulatedUnit& u) { u.config.escState = 2; }, true},
    {"HardwareIdForeign", [](SimulatedUnit& u) { u.config.escHardwareId = 0x12345678; }, true},
    {"HardwareIdOtherAccepted", [](SimulatedUnit& u) { u.config.escHardwareId = 0x0A06408C; }, true},
    {"BootloaderVersion", [](SimulatedUnit& u) { u.config.escBootloaderVersion = 0x01000006; }, true},
    {"FirmwareVersion", [](SimulatedUnit& u) { u.firmwareVersion = 0x0301; }, true},
    {"NoFirmware", [](SimulatedUnit& u) { u.firmwareVersion = 0xFFFF; }, true},
    {"WholeEscSwapped",
     [](SimulatedUnit& u) {
         SimConfig other;
         other.escHardwareId = 0x12345678;
         other.escBootloaderVersion = 0x02000001;
         other.escFirmwareVersion = 0x0105;
         u.ConnectEsc(other);
     },
     true},
    // Not the ESC's identity: the same ESC and firmware, so the checks made still hold.
    {"AuxWordOnly", [](SimulatedUnit& u) { u.config.escAuxWord = 0x1234; }, false},
};

class EscChangeTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<EscChangeCase> {
protected:
    // The commands the unit received since the update began.
    std::vector<std::uint8_t> UpdateCommands() const {
        const std::vector<std::uint8_t> all = unit->Commands();
        return {all.end() - static_cast<std::ptrdiff_t>(SentInAll()), all.end()};
    }
};

// Changed before Update was pressed (or after a cancelled question): nothing is asked or
// sent but the identification, and the window shows the ESC that is there now.
TEST_P(EscChangeTest, BeforeThePressShowsTheEscNowAndAsksNothing) {
    const EscChangeCase& c = GetParam();
    c.change(*unit);

    result = RunFirmwareUpdate(view);
    const UpdateOutcome outcome = result.outcome;

    if (!c.matters) {
        EXPECT_EQ(outcome, UpdateOutcome::Succeeded);
        ExpectSuccess();
        return;
    }
    EXPECT_EQ(outcome, UpdateOutcome::EscChanged);
    EXPECT_EQ(timeline.WindowKinds(), std::vector<Ev>{Ev::Changed});
    ExpectPeriod(false);
    const std::vector<std::uint8_t> commands = UpdateCommands();
    EXPECT_TRUE(std::all_of(commands.begin(), commands.end(), [](std::uint8_t command) {
        return command == CMD_IDENTIFY || command == CMD_READ_UNIT_MEMORY || command == CMD_READ_ESC_APP_INFO ||
               command == CMD_READ_ESC_BOOT_INFO;
    }));
    EXPECT_FALSE(commands.empty());
    // The window is handed the ESC as the unit describes it now.
    UnitIdentity now;
    ASSERT_EQ(QueryIdentity(deviceSession, now), LINK_OK);
    EXPECT_TRUE(SameEscForUpdate(deviceSession, now));
    EXPECT_EQ(view.phase, UpdatePhase::Ended);
}

// Changed while a question is open: the sequence's first step finds it, and the lock step
// fails with the reason and no code line. Nothing that writes was sent.
TEST_P(EscChangeTest, DuringTheQuestionsFailsBeforeTheLock) {
    const EscChangeCase& c = GetParam();
    view.whileConfirmOpen = [this, &c] { c.change(*unit); };

    result = RunFirmwareUpdate(view);
    const UpdateOutcome outcome = result.outcome;

    if (!c.matters) {
        EXPECT_EQ(outcome, UpdateOutcome::Succeeded);
        ExpectSuccess();
        return;
    }
    EXPECT_EQ(outcome, UpdateOutcome::Failed);
    ExpectFailureBox(Text(IDS_LOCK_FAILED) + L"\r\n" + Text(IDS_ESC_CHANGED));
    ExpectPeriod(true);
    EXPECT_EQ(Sent(), 0u);
    for (const std::uint8_t command : {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE, CMD_SET_ADDRESS, CMD_WRITE_BLOCK}) {
        EXPECT_EQ(unit->commandCount[command], 0u) << "command " << int{command};
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, EscChangeTest, ::testing::ValuesIn(ESC_CHANGES),
                         [](const auto& info) { return std::string(info.param.name); });

// Both questions asked; the ESC swapped while the version question is open.
class EscSwapDuringVersionQuestionTest : public FirmwareUpdateTest {
protected:
    SimConfig UnitConfig() const override {
        SimConfig config;
        config.escFirmwareVersion = 0x0303;
        return config;
    }
};

TEST_F(EscSwapDuringVersionQuestionTest, FailsBeforeTheLock) {
    view.whileYesNoOpen = [this] {
        SimConfig foreign;
        foreign.escHardwareId = 0x12345678;
        unit->ConnectEsc(foreign);
    };

    result = RunFirmwareUpdate(view);

    EXPECT_EQ(result.outcome, UpdateOutcome::Failed);
    EXPECT_EQ(result.failureText, IDS_LOCK_FAILED);
    EXPECT_EQ(result.codeLine, L"");
    ExpectFailureBox(Text(IDS_LOCK_FAILED) + L"\r\n" + Text(IDS_ESC_CHANGED));
    EXPECT_EQ(unit->commandCount[CMD_SYSTEM_LOCK], 0u);
    EXPECT_EQ(unit->commandCount[CMD_ERASE], 0u);
}

// The identification exchanges themselves failing: when the update begins, the unit is
// given up as one that is gone (with the code line); as the sequence's first step, the
// lock step fails with its code line. Nothing that writes is sent either way.
struct CheckFaultCase {
    std::size_t exchange;  // from the update's first: 0..2 at the press, 3..5 in the sequence
    K kind;
};

class CheckFaultTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<CheckFaultCase> {};

TEST_P(CheckFaultTest, FailsWithNothingWritten) {
    const auto [exchange, kind] = GetParam();
    unit->faults[exchangesBefore - CHECK_EXCHANGES + exchange] = {kind, 0x0000ABCD, 87};

    result = RunFirmwareUpdate(view);

    const bool atPress = exchange < CHECK_EXCHANGES / 2;
    const bool identifyRefused = kind == K::ErrorReply && exchange % 3 == 0;
    // At the press nothing was sent but the identification: refused; in the sequence,
    // the lock step failed.
    EXPECT_EQ(result.outcome, identifyRefused && atPress ? UpdateOutcome::EscChanged
                              : atPress                  ? UpdateOutcome::Refused
                                                         : UpdateOutcome::Failed);
    const wchar_t* codeLine = kind == K::WriteFails   ? L"0xfffffffe-0x00000057"
                              : kind != K::ErrorReply ? L"0xfffffffd-0x00000057"
                                                      : nullptr;
    if (!identifyRefused) {
        EXPECT_EQ(result.failureText, atPress ? IDS_UNIT_NOT_DETECTED : IDS_LOCK_FAILED);
        EXPECT_EQ(result.codeLine, CODE_LINE_PREFIX + (kind == K::ErrorReply ? L"0x0000abcd-0x00000000" : codeLine));
    }
    if (identifyRefused) {
        // The identify reply's status is not looked at: its bytes (zero here) say the ESC
        // is not ready, which is a changed ESC.
        if (atPress) {
            EXPECT_EQ(timeline.WindowKinds(), std::vector<Ev>{Ev::Changed});
        } else {
            ExpectFailureBox(Text(IDS_LOCK_FAILED) + L"\r\n" + Text(IDS_ESC_CHANGED));
        }
    } else if (kind == K::ErrorReply) {
        // The ESC's own error code, as the identification returns it (its low 16 bits).
        ExpectFailure(atPress ? IDS_UNIT_NOT_DETECTED : IDS_LOCK_FAILED, L"0x0000abcd-0x00000000");
    } else {
        ExpectFailure(atPress ? IDS_UNIT_NOT_DETECTED : IDS_LOCK_FAILED, codeLine);
    }
    EXPECT_EQ(timeline.Count(Ev::Confirm), atPress ? 0u : 1u);
    ExpectPeriod(!atPress);
    EXPECT_EQ(Sent(), 0u);
    EXPECT_EQ(unit->commandCount[CMD_SYSTEM_LOCK], 0u);
}

std::vector<CheckFaultCase> EveryCheckExchange() {
    std::vector<CheckFaultCase> cases;
    for (std::size_t exchange = 0; exchange < CHECK_EXCHANGES; ++exchange) {
        for (K kind : {K::WriteFails, K::ReadFails, K::ErrorReply, K::NoReply}) {
            cases.push_back({exchange, kind});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Exchanges, CheckFaultTest, ::testing::ValuesIn(EveryCheckExchange()),
                         [](const auto& info) {
                             return "Exchange" + std::to_string(info.param.exchange) + KindName(info.param.kind);
                         });

// The sequence's identification follows a step's wait, and the lock follows it at once.
TEST_F(FirmwareUpdateTest, SequenceBeginsWithAWaitThenTheIdentification) {
    ASSERT_EQ(RunFirmwareUpdate(view).outcome, UpdateOutcome::Succeeded);

    const std::vector<std::uint8_t> commands = unit->Commands();
    const std::vector<std::uint8_t> first(commands.end() - static_cast<std::ptrdiff_t>(SentInAll()),
                                          commands.end() - static_cast<std::ptrdiff_t>(Sent()) + 1);
    EXPECT_EQ(first, (std::vector<std::uint8_t>{CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO,
                                                CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO,
                                                CMD_SYSTEM_LOCK}));
    const auto sleeps = timeline.Of(Ev::Sleep);
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(sleeps[0].value, STEP_DELAY_MS);
    // Three exchanges at the press were made before it: the wait comes before the second
    // identification's first request, and none between it and the lock.
    const auto& requests = unit->requests;
    const std::size_t secondIdentify = requests.size() - SentInAll() + 3;
    EXPECT_GE(requests[secondIdentify].writtenAtMicros - requests[secondIdentify - 1].readAtMicros,
              STEP_DELAY_MS * 1000u);
    EXPECT_EQ(requests[secondIdentify + 3].writtenAtMicros, requests[secondIdentify + 2].readAtMicros);
}

// What the front end needs during the sequence is had before the sequence, or nothing
// is sent.
TEST_F(FirmwareUpdateTest, UnpreparedFrontEndRefusesBeforeTheSequence) {
    view.prepares = false;

    result = RunFirmwareUpdate(view);

    EXPECT_EQ(result.outcome, UpdateOutcome::Refused);
    ExpectFailure(IDS_PREPARE_FAILED, nullptr);
    ExpectPeriod(false);
    EXPECT_EQ(SentInAll(), 3u) << "only the identification when the update began";
    const auto kinds = timeline.WindowKinds();
    EXPECT_LT(std::find(kinds.begin(), kinds.end(), Ev::Confirm), std::find(kinds.begin(), kinds.end(), Ev::Prepare));
}

// ---------------------------------------------------------------------------------------
// The failure report itself

struct CodeLineCase {
    const char* name;
    const wchar_t* format;  // null: the catalogue's English text
    std::int32_t code;
    std::uint32_t systemError;
    const wchar_t* line;
};

class CodeLineTest : public FirmwareUpdateTest, public ::testing::WithParamInterface<CodeLineCase> {};

TEST_P(CodeLineTest, FormatsCodeAndSystemError) {
    const CodeLineCase& c = GetParam();
    if (c.format != nullptr) {
        view.textOverrides[IDS_ERROR_CODE_LINE] = c.format;
    }

    ReportUpdateFailure(view, L"text", L"caption", c.code, c.systemError);

    const auto boxes = timeline.Of(Ev::Box);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"caption");
    EXPECT_EQ(boxes[0].text, std::wstring(L"text\r\n") + c.line);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(host.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CodeLineTest,
    ::testing::Values(
        CodeLineCase{"ReadFailed", nullptr, -3, 0, L"The system shows following errorcode: 0xfffffffd-0x00000000"},
        CodeLineCase{"WriteFailed", nullptr, -2, 5, L"The system shows following errorcode: 0xfffffffe-0x00000005"},
        CodeLineCase{"Refused", nullptr, ERROR_FUNCTION_FAILED, 0,
                     L"The system shows following errorcode: 0x0000065b-0x00000000"},
        CodeLineCase{"UnitCode", nullptr, static_cast<std::int32_t>(0xFFFFFFFEu), 0xFFFFFFFFu,
                     L"The system shows following errorcode: 0xfffffffe-0xffffffff"},
        CodeLineCase{"German", L"Das System meldet Fehlercode 0x%08x-0x%08x", -2, 5,
                     L"Das System meldet Fehlercode 0xfffffffe-0x00000005"},
        CodeLineCase{"PercentSign", L"100%% 0x%08x", 0x65B, 0, L"100% 0x0000065b"},
        // A format asking for more than the two numbers is not trusted with them.
        CodeLineCase{"HostileFormat", L"%s%n 0x%08x", -3, 0, L"0xfffffffd-0x00000000"},
        CodeLineCase{"ThreeNumbers", L"%08x %08x %08x", -3, 0, L"0xfffffffd-0x00000000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareUpdateTest, ReportWithCodeMinusOneShowsTheTextAlone) {
    ReportUpdateFailure(view, L"text", L"caption", LINK_NO_DEVICE, 1167);

    EXPECT_EQ(timeline.WindowKinds(), (std::vector<Ev>{Ev::Enable, Ev::Versions, Ev::Box, Ev::Status}));
    EXPECT_EQ(timeline.Of(Ev::Box).at(0).text, L"text");
    EXPECT_EQ(timeline.Of(Ev::Status).at(0).text, Text(IDS_UPDATE_FAILED));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
}

}  // namespace
