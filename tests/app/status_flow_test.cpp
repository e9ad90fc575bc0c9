// The connection status flow against the simulated unit: start-up, arrival and removal,
// row by row of the state table.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/status_flow.h"
#include "res/terminal_texts.h"
#include "tests/app/fake_dialog.h"
#include "sim/sim_unit.h"

namespace {

const std::wstring UNIT_PATH = SimUnitPath(PRODUCT_TUNE_BOX, 0);
const std::wstring SECOND_UNIT_PATH = SimUnitPath(PRODUCT_TUNE_BOX, 1);
const std::wstring KEYBOARD_PATH = L"\\\\?\\hid#vid_046d&pid_c31c&mi_00#8&2f6a1c3e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

using Plugger = std::function<void(SimHidHost&)>;

Plugger Scenario(const char* name) {
    return [name](SimHidHost& bus) { ASSERT_TRUE(LoadSimScenario(name, bus)); };
}

Plugger WithConfig(std::function<void(SimConfig&)> change) {
    return [change](SimHidHost& bus) {
        SimConfig config;
        change(config);
        bus.Plug(UNIT_PATH, config);
    };
}

const Plugger KEYBOARD_ONLY = [](SimHidHost& bus) { bus.PlugOther(KEYBOARD_PATH, 0x046D, 0xC31C); };
const Plugger UNOPENABLE_UNIT = [](SimHidHost& bus) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    bus.unopenable.push_back(UNIT_PATH);
};

std::wstring ToUpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    const std::size_t at = text.find(from);
    if (at != std::wstring::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The versions an accepted unit shows.
struct Shown {
    const wchar_t* unit;
    const wchar_t* bootloader;
    const wchar_t* esc;
    const wchar_t* label;
};
constexpr Shown READY_TUNE_BOX{L"2.3", L"1.0.5", L"3.2", L"TUNE-BOX"};

class StatusFlow : public DialogTest {
protected:
    std::wstring WithHint(std::uint16_t id, std::uint16_t hint = IDS_HINT) const {
        return Msg(id) + L"\r\n\r\n" + Msg(hint);
    }
    std::wstring ForeignBoxText() const { return Replace(Msg(IDS_INCOMPATIBLE_ESC), L"%s", L"ORVANTA 90"); }

    std::int32_t Arrive(std::uint32_t deviceType = 5) {
        const TestBroadcast broadcast{deviceType, L"\\\\?\\hid#some_device#{4d1e55b2-f16f-11cf-88cb-001111000030}"};
        return OnDeviceChange(dialog, 0x8000, BroadcastOf(broadcast));
    }
    std::int32_t Remove(const std::wstring& name, std::uint32_t deviceType = 5) {
        const TestBroadcast broadcast{deviceType, name};
        return OnDeviceChange(dialog, 0x8004, BroadcastOf(broadcast));
    }

    // What a version refresh writes: with no unit open, the zero versions and the group
    // disabled; else the group enabled and the unit's, bootloader's and ESC firmware's
    // texts, then the unit's name as its label.
    static std::vector<std::wstring> NoUnitVersionLog() {
        return {L"item 40013 0.0.0",  L"item 40014 0.0.0", L"item 40015 0.0.0", L"enable 40013 0",
                L"enable 40014 0",    L"enable 40015 0",   L"enable 40010 0",   L"enable 1005 0",
                L"enable 40011 0"};
    }
    static std::vector<std::wstring> VersionLog(const Shown& shown) {
        return {L"enable 40013 1",
                L"enable 40014 1",
                L"enable 40015 1",
                L"enable 40010 1",
                L"enable 1005 1",
                L"enable 40011 1",
                std::wstring(L"item 40013 ") + shown.unit,
                std::wstring(L"item 40014 ") + shown.bootloader,
                std::wstring(L"item 40015 ") + shown.esc,
                std::wstring(L"item 40010 ") + shown.label};
    }
    // The status writes of ShowStatusWithHint for id.
    std::vector<std::wstring> HintLog(std::uint16_t id, std::uint16_t hint = IDS_HINT) const {
        const std::wstring first = Msg(id) + L"\r\n\r\n";
        return {L"text 40004 " + first, L"length 40004",
                L"read 40004 " + std::to_wstring(first.size() + Msg(hint).size() + 1),
                L"text 40004 " + WithHint(id, hint)};
    }
    std::vector<std::wstring> LogSince(std::size_t from) const {
        return {dialog.log.begin() + static_cast<std::ptrdiff_t>(from), dialog.log.end()};
    }
    static std::vector<std::wstring> Join(std::initializer_list<std::vector<std::wstring>> parts) {
        std::vector<std::wstring> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }

    void StartWithNoUnit() {
        OnInitDialog(dialog, FAKE_MAIN_WINDOW);
        ASSERT_EQ(dialog.Status(), WithHint(IDS_NO_UNIT));
    }
    void StartReady() {
        ASSERT_TRUE(LoadSimScenario("ready", bus));
        OnInitDialog(dialog, FAKE_MAIN_WINDOW);
        ASSERT_EQ(dialog.Status(), Msg(IDS_READY));
        ASSERT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    }
    void ExpectNoUnitState() {
        EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_EQ(bus.OpenHandleCount(), 0u);
        EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
        EXPECT_EQ(dialog.Text(IDC_UNIT_VERSION), L"0.0.0");
        EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), L"0.0.0");
    }
};

// ---- dialog initialisation ----

TEST_F(StatusFlow, InitialisationSetsIconTitleLabelsAndRegistersBeforeTheCheck) {
    for (const CatalogueLanguage language : {CatalogueLanguage::English, CatalogueLanguage::German}) {
        SCOPED_TRACE(language == CatalogueLanguage::English ? "English" : "German");
        dialog = FakeDialog{};
        dialog.language = language;
        OnInitDialog(dialog, FAKE_MAIN_WINDOW);

        EXPECT_EQ(mainWindow, FAKE_MAIN_WINDOW);
        EXPECT_EQ(deviceNotification, FAKE_REGISTRATION);
        EXPECT_EQ(dialog.title, L"QUORVEX ORVANTA 90 FW Updater 3.3 ");
        const std::vector<std::wstring> expected = {
            L"icon 123",
            L"title QUORVEX ORVANTA 90 FW Updater 3.3 ",
            L"item 40010 " + Msg(IDS_UNIT_LABEL),
            L"item 1005 " + Msg(IDS_BOOTLOADER_LABEL),
            L"item 40011 " + Msg(IDS_ESC_LABEL),
            L"register",
        };
        ASSERT_GE(dialog.log.size(), expected.size());
        EXPECT_EQ(std::vector<std::wstring>(dialog.log.begin(), dialog.log.begin() + 6), expected);
        deviceSession.Reset();
    }
}

TEST_F(StatusFlow, RegistrationFailureShowsErrorResetsAndEndsWithOneWithoutStatus) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    dialog.registration = 0;
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);

    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, Msg(IDS_REGISTER_FAILED));
    EXPECT_EQ(dialog.boxes[0].caption, Msg(IDS_APP_ERROR_CAPTION));
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_EQ(dialog.endResults, std::vector<std::intptr_t>{1});
    EXPECT_TRUE(dialog.unregistered.empty());
    EXPECT_EQ(deviceNotification, 0u);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_TRUE(bus.opened.empty()) << "no search for a unit";
    EXPECT_EQ(dialog.texts.count(IDC_STATUS), 0u) << "no status text";
    EXPECT_TRUE(std::none_of(dialog.log.begin(), dialog.log.end(),
                             [](const std::wstring& entry) { return entry.rfind(L"enable", 0) == 0; }))
        << "no version refresh, Update untouched";
    EXPECT_EQ(dialog.log.back(), L"end 1");
}

// ---- start-up check ----

struct StartCase {
    const char* label;
    Plugger plug;
    std::uint16_t status;  // IDS_READY: accepted
    Shown shown{};         // what an accepted unit shows
};

class StartUp : public StatusFlow, public ::testing::WithParamInterface<std::tuple<StartCase, CatalogueLanguage>> {};

TEST_P(StartUp, DecidesStatusUpdateButtonAndRefreshesVersionsLast) {
    const auto& [test, language] = GetParam();
    dialog.language = language;
    test.plug(bus);
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);

    if (test.status == IDS_READY) {
        EXPECT_EQ(dialog.Status(), Msg(IDS_READY)) << "the ready text alone";
        EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
        EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_TRUE(dialog.boxes.empty());
        const auto tail = Join({{L"text 40004 " + Msg(IDS_READY), L"enable 1002 1"}, VersionLog(test.shown)});
        EXPECT_EQ(LogSince(dialog.log.size() - tail.size()), tail);
        return;
    }

    EXPECT_EQ(dialog.Status(), WithHint(test.status));
    ExpectNoUnitState();
    const std::size_t disable =
        std::find(dialog.log.begin(), dialog.log.end(), L"enable 1002 0") - dialog.log.begin();
    ASSERT_LT(disable, dialog.log.size());
    std::vector<std::wstring> tail = {L"enable 1002 0"};
    if (test.status == IDS_INCOMPATIBLE_STATUS) {
        ASSERT_EQ(dialog.boxes.size(), 1u);
        EXPECT_EQ(dialog.boxes[0].text, ForeignBoxText());
        EXPECT_NE(dialog.boxes[0].text.find(L"'ORVANTA 90'"), std::wstring::npos);
        EXPECT_EQ(dialog.boxes[0].caption, Msg(IDS_INCOMPATIBLE_CAPTION));
        EXPECT_EQ(dialog.boxes[0].flags, 0x40u);
        EXPECT_EQ(dialog.boxes[0].statusText, L"") << "the box comes before the status text";
        EXPECT_FALSE(dialog.boxes[0].unitOpen) << "the unit is closed before the box";
        tail.push_back(L"box 64");
    } else {
        EXPECT_TRUE(dialog.boxes.empty());
    }
    tail = Join({tail, HintLog(test.status), NoUnitVersionLog()});
    EXPECT_EQ(LogSince(disable), tail);
}

const StartCase START_CASES[] = {
    {"no_device", [](SimHidHost&) {}, IDS_NO_UNIT},
    {"keyboard_only", KEYBOARD_ONLY, IDS_NO_UNIT},
    {"unit_not_openable", UNOPENABLE_UNIT, IDS_NO_UNIT},
    {"identification_fails", Scenario("silent"), IDS_NO_UNIT},
    {"wrong_mode", Scenario("wrong-mode"), IDS_WRONG_MODE},
    {"no_esc", Scenario("no-esc"), IDS_NO_ESC},
    {"foreign_esc", Scenario("foreign-esc"), IDS_INCOMPATIBLE_STATUS},
    {"hardware_id_zero", WithConfig([](SimConfig& c) { c.escHardwareId = 0; }), IDS_INCOMPATIBLE_STATUS},
    {"ready", Scenario("ready"), IDS_READY, READY_TUNE_BOX},
    {"ready_alternative_hardware", Scenario("ready-alt"), IDS_READY, READY_TUNE_BOX},
    {"tunepuck", Scenario("puck"), IDS_READY, {L"2.3", L"1.0.5", L"3.2", L"TUNEPUCK"}},
    {"no_firmware", Scenario("no-firmware"), IDS_READY, {L"2.3", L"1.0.5", L"----------", L"TUNE-BOX"}},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, StartUp,
    ::testing::Combine(::testing::ValuesIn(START_CASES),
                       ::testing::Values(CatalogueLanguage::English, CatalogueLanguage::German)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).label) +
               (std::get<1>(info.param) == CatalogueLanguage::English ? "_en" : "_de");
    });

TEST_F(StatusFlow, NoUnitAtStartReadsStatusHintAndZeroVersions) {
    StartWithNoUnit();
    EXPECT_EQ(dialog.Status(), Msg(IDS_NO_UNIT) + L"\r\n\r\n" + Msg(IDS_HINT));
    for (const int field : {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION}) {
        EXPECT_EQ(dialog.Text(field), L"0.0.0");
        EXPECT_FALSE(dialog.Enabled(field));
    }
    EXPECT_EQ(dialog.Text(IDC_UNIT_LABEL), Msg(IDS_UNIT_LABEL));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
}

// ---- a unit found that cannot be opened ----

// Where the catalogue has advice for it (the Linux programs), a unit this user may not open
// or one another program holds is told with what to do in place of the hint, at the start
// and when it arrives; once it has gone, the plain no-unit status comes back.
class Advice : public StatusFlow {
protected:
    void SetUp() override {
        StatusFlow::SetUp();
        dialog.terminalTexts = true;
    }
};

TEST_F(Advice, AtTheStartInPlaceOfTheHint) {
    struct Case {
        const char* label;
        Plugger plug;
        std::uint16_t advice;
        bool inUse;
    };
    for (const Case& c : {Case{"no permission", UNOPENABLE_UNIT, TXT_NO_PERMISSION, false},
                          Case{"in use", Scenario("in-use"), TXT_UNIT_IN_USE, true}}) {
        SCOPED_TRACE(c.label);
        SimHidHost own{clock};
        hidHost = &own;
        dialog = FakeDialog{};
        dialog.terminalTexts = true;
        c.plug(own);
        OnInitDialog(dialog, FAKE_MAIN_WINDOW);
        EXPECT_EQ(dialog.Status(), WithHint(IDS_NO_UNIT, c.advice));
        EXPECT_EQ(LastConnectionHint(), c.advice);
        EXPECT_EQ(UnitInUseAtLastCheck(), c.inUse);
        EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
        CloseMainDialog(dialog);
        hidHost = &bus;
    }
}

TEST_F(Advice, AnArrivalSaysItAndTheRemovalTakesItBack) {
    StartWithNoUnit();
    UNOPENABLE_UNIT(bus);
    std::size_t before = dialog.log.size();
    EXPECT_EQ(Arrive(), 1);
    EXPECT_EQ(LogSince(before), Join({{L"enable 1002 0"}, HintLog(IDS_NO_UNIT, TXT_NO_PERMISSION)}));

    bus.Unplug(UNIT_PATH);
    before = dialog.log.size();
    EXPECT_EQ(Remove(UNIT_PATH), 1);
    EXPECT_EQ(LogSince(before), Join({{L"enable 1002 0"}, HintLog(IDS_NO_UNIT)}));
    EXPECT_EQ(LastConnectionHint(), IDS_HINT);

    // Said once: a further arrival of something else says nothing more.
    before = dialog.log.size();
    KEYBOARD_ONLY(bus);
    EXPECT_EQ(Arrive(), 1);
    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});
}

// Letting a unit go makes no event: looking again finds it, but only while the dialog
// handles device changes, and never while one waits.
TEST_F(Advice, LookingAgainFindsAUnitInUseOnceItIsLetGo) {
    ASSERT_TRUE(LoadSimScenario("in-use", bus));
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    ASSERT_TRUE(UnitInUseAtLastCheck());

    const std::size_t opensBefore = bus.opened.size();
    LookAgainAtUnitInUse(dialog);
    EXPECT_EQ(dialog.Status(), WithHint(IDS_NO_UNIT, TXT_UNIT_IN_USE)) << "still held";

    bus.held.clear();
    {
        const PhaseScope running(DialogPhase::Running);
        LookAgainAtUnitInUse(dialog);
        EXPECT_EQ(WaitingDeviceChanges(), 0u) << "nothing queued while changes wait";
    }
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);

    LookAgainAtUnitInUse(dialog);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
    EXPECT_FALSE(UnitInUseAtLastCheck());
    const std::size_t opensAfter = bus.opened.size();
    LookAgainAtUnitInUse(dialog);
    EXPECT_EQ(bus.opened.size(), opensAfter) << "a unit open is not searched for again";
    EXPECT_GT(opensAfter, opensBefore);
}

TEST_F(Advice, AUnitHeldAfterItsIdentificationFailedStaysHeld) {
    StartWithNoUnit();
    ASSERT_TRUE(LoadSimScenario("silent", bus));
    EXPECT_EQ(Arrive(), 1);
    ASSERT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    const std::wstring statusBefore = dialog.Status();
    bus.unopenable.push_back(SECOND_UNIT_PATH);
    bus.Plug(SECOND_UNIT_PATH, SimConfig{});
    EXPECT_EQ(Arrive(), 1);
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE) << "the held unit is not given up";
    EXPECT_EQ(dialog.Status(), statusBefore);
}

// ---- arrival ----

struct ArrivalCase {
    const char* label;
    Plugger plug;
    std::uint16_t status;  // 0: nothing at all is done
    bool held;             // the unit stays open though nothing is shown
};

class Arrival : public StatusFlow, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(Arrival, ChecksTheConnectionInItsArrivalForm) {
    const ArrivalCase& test = GetParam();
    StartWithNoUnit();
    const std::size_t before = dialog.log.size();
    const std::wstring statusBefore = dialog.Status();
    test.plug(bus);

    EXPECT_EQ(Arrive(), 1);

    if (test.status == 0) {
        EXPECT_EQ(LogSince(before), std::vector<std::wstring>{}) << "no text, no reset, no refresh";
        EXPECT_EQ(dialog.Status(), statusBefore);
        EXPECT_EQ(deviceSession.handle != NO_DEVICE_HANDLE, test.held);
        EXPECT_EQ(bus.OpenHandleCount(), test.held ? 1u : 0u);
        return;
    }
    if (test.status == IDS_READY) {
        EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
        EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
        EXPECT_EQ(LogSince(before), Join({{L"text 40004 " + Msg(IDS_READY)}, VersionLog(READY_TUNE_BOX), {L"enable 1002 1"}}));
        return;
    }
    EXPECT_EQ(dialog.Status(), WithHint(test.status));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(bus.OpenHandleCount(), 0u);
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
    std::vector<std::wstring> expected = {L"enable 1002 0"};
    if (test.status == IDS_INCOMPATIBLE_STATUS) {
        ASSERT_EQ(dialog.boxes.size(), 1u);
        EXPECT_EQ(dialog.boxes[0].text, ForeignBoxText());
        EXPECT_EQ(dialog.boxes[0].flags, 0x40u);
        EXPECT_EQ(dialog.boxes[0].statusText, statusBefore) << "the box comes before the status text";
        expected.push_back(L"box 64");
    }
    EXPECT_EQ(LogSince(before), Join({expected, HintLog(test.status)})) << "no version refresh";
}

const ArrivalCase ARRIVAL_CASES[] = {
    {"keyboard_only", KEYBOARD_ONLY, 0, false},
    {"unit_not_openable", UNOPENABLE_UNIT, 0, false},
    {"identification_fails_unit_held", Scenario("silent"), 0, true},
    {"wrong_mode", Scenario("wrong-mode"), IDS_WRONG_MODE, false},
    {"no_esc", Scenario("no-esc"), IDS_NO_ESC, false},
    {"foreign_esc", Scenario("foreign-esc"), IDS_INCOMPATIBLE_STATUS, false},
    {"hardware_id_zero", WithConfig([](SimConfig& c) { c.escHardwareId = 0; }), IDS_INCOMPATIBLE_STATUS, false},
    {"ready", Scenario("ready"), IDS_READY, false},
    {"ready_alternative_hardware", Scenario("ready-alt"), IDS_READY, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, Arrival, ::testing::ValuesIn(ARRIVAL_CASES),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(StatusFlow, HeldUnitIgnoresArrivalsUntilItsRemoval) {
    StartWithNoUnit();
    ASSERT_TRUE(LoadSimScenario("silent", bus));
    ASSERT_EQ(Arrive(), 1);
    const DeviceHandle held = deviceSession.handle;
    ASSERT_NE(held, NO_DEVICE_HANDLE);
    const std::size_t before = dialog.log.size();

    ASSERT_TRUE(LoadSimScenario("ready", bus, 1));
    EXPECT_EQ(Arrive(), 1);
    EXPECT_EQ(deviceSession.handle, held) << "a unit is open: the arrival is ignored";
    bus.Unplug(SECOND_UNIT_PATH);
    EXPECT_EQ(Remove(SECOND_UNIT_PATH), 1);
    EXPECT_EQ(deviceSession.handle, held);
    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});

    bus.Unplug(UNIT_PATH);
    EXPECT_EQ(Remove(UNIT_PATH), 1);
    EXPECT_EQ(dialog.Status(), WithHint(IDS_CONNECTION_LOST));
    ExpectNoUnitState();
}

// ---- removal ----

struct RemovalCase {
    const char* label;
    std::wstring name;
    bool matches;
};

class Removal : public StatusFlow, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(Removal, OfTheOpenUnitIsMatchedByItsPath) {
    const RemovalCase& test = GetParam();
    StartReady();
    const std::size_t before = dialog.log.size();

    EXPECT_EQ(Remove(test.name), 1);

    if (!test.matches) {
        EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});
        EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
        EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
        return;
    }
    EXPECT_EQ(dialog.Status(), WithHint(IDS_CONNECTION_LOST));
    ExpectNoUnitState();
    EXPECT_EQ(LogSince(before), Join({{L"enable 1002 0"}, NoUnitVersionLog(), HintLog(IDS_CONNECTION_LOST)}));
    EXPECT_EQ(dialog.Text(IDC_UNIT_LABEL), L"TUNE-BOX") << "the label keeps the unit's name";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Removal,
    ::testing::Values(RemovalCase{"same_path", UNIT_PATH, true},
                      RemovalCase{"ascii_case_differs", ToUpperAscii(UNIT_PATH), true},
                      RemovalCase{"other_unit", SECOND_UNIT_PATH, false},
                      RemovalCase{"one_character_short", UNIT_PATH.substr(0, UNIT_PATH.size() - 1), false},
                      RemovalCase{"one_character_more", UNIT_PATH + L"0", false},
                      RemovalCase{"empty_name", L"", false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(StatusFlow, RemovalFoldsAsciiCaseOnlyInNonAsciiPaths) {
    const std::wstring path = L"\\\\?\\hid#vid_2e6d&pid_0002#caf\u00e9&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    bus.Plug(path, SimConfig{});
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    ASSERT_EQ(dialog.Status(), Msg(IDS_READY));

    EXPECT_EQ(Remove(Replace(path, L"caf\u00e9", L"caf\u00c9")), 1);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY)) << "\u00e9 and \u00c9 are different characters here";
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);

    EXPECT_EQ(Remove(Replace(path, L"caf\u00e9", L"CAF\u00e9")), 1);
    EXPECT_EQ(dialog.Status(), WithHint(IDS_CONNECTION_LOST));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
}

TEST_F(StatusFlow, SameDevicePathComparesWholeStringsFoldingOnlyAsciiLetters) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const Case cases[] = {
        {L"abc", L"abc", true},       {L"abc", L"ABC", true},        {L"Zz", L"zZ", true},
        {L"", L"", true},             {L"abc", L"abcd", false},      {L"abcd", L"abc", false},
        {L"a@b", L"a`b", false},      {L"[x]", L"{x}", false},       {L"^", L"~", false},
        {L"\u00e9", L"\u00c9", false}, {L"\u00df", L"SS", false},     {L"#{4D1E}", L"#{4d1e}", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameDevicePath(c.a, c.b), c.same) << '"' << testing::PrintToString(std::wstring(c.a)) << "\" vs "
                                                     << testing::PrintToString(std::wstring(c.b));
        EXPECT_EQ(SameDevicePath(c.b, c.a), c.same);
    }
    EXPECT_FALSE(SameDevicePath(nullptr, L"a"));
    EXPECT_FALSE(SameDevicePath(L"a", nullptr));
}

TEST_F(StatusFlow, SecondUnitPluggedAndRemovedChangesNothing) {
    StartReady();
    const DeviceHandle first = deviceSession.handle;
    const std::size_t before = dialog.log.size();

    ASSERT_TRUE(LoadSimScenario("ready", bus, 1));
    EXPECT_EQ(Arrive(), 1);
    bus.Unplug(SECOND_UNIT_PATH);
    EXPECT_EQ(Remove(SECOND_UNIT_PATH), 1);

    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});
    EXPECT_EQ(deviceSession.handle, first);
    EXPECT_EQ(SameDevicePath(deviceSession.devicePath.get(), UNIT_PATH.c_str()), true);
    EXPECT_EQ(bus.opened.size(), 1u) << "no search while a unit is open";
}

// The foreign-ESC box runs a message loop; a ready unit that arrives while it is open is
// accepted there, and closing the box must not then call it foreign.
TEST_F(StatusFlow, ReadyUnitArrivingWhileForeignBoxIsOpenKeepsItsReadyStatus) {
    ASSERT_TRUE(LoadSimScenario("foreign-esc", bus));
    dialog.whileBoxOpen = [&](const BoxCall&) {
        bus.Unplug(UNIT_PATH);
        ASSERT_TRUE(LoadSimScenario("ready", bus, 1));
        EXPECT_EQ(Arrive(), 1);
    };
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);

    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
    EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), L"3.2");
}

// A unit that arrives during the box but cannot be identified is held, not accepted: the
// foreign ESC's status is still shown.
TEST_F(StatusFlow, UnitHeldWhileForeignBoxIsOpenDoesNotHideTheForeignStatus) {
    ASSERT_TRUE(LoadSimScenario("foreign-esc", bus));
    dialog.whileBoxOpen = [&](const BoxCall&) {
        bus.Unplug(UNIT_PATH);
        SimulatedUnit& held = bus.Plug(SECOND_UNIT_PATH, SimConfig{});
        held.faults[0] = SimFault{SimFault::Kind::ReadFails, 0, 0};
        EXPECT_EQ(Arrive(), 1);
        EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    };
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);

    EXPECT_EQ(dialog.Status(), WithHint(IDS_INCOMPATIBLE_STATUS));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
}

TEST_F(StatusFlow, RemovalWithoutOpenUnitChangesNothing) {
    StartWithNoUnit();
    const std::size_t before = dialog.log.size();
    EXPECT_EQ(Remove(UNIT_PATH), 1);
    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});
}

TEST_F(StatusFlow, BroadcastsOfOtherDeviceTypesAreIgnored) {
    // NO UNIT with a ready unit on the bus: an examined arrival would find it.
    StartWithNoUnit();
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    const std::size_t before = dialog.log.size();
    for (const std::uint32_t type : {0u, 2u, 3u, 6u}) {
        EXPECT_EQ(Arrive(type), 1) << type;
    }
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});

    ASSERT_EQ(Arrive(5), 1);
    ASSERT_EQ(dialog.Status(), Msg(IDS_READY));
    const std::size_t ready = dialog.log.size();
    for (const std::uint32_t type : {0u, 2u, 3u, 6u}) {
        EXPECT_EQ(Remove(UNIT_PATH, type), 1) << type;
    }
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(LogSince(ready), std::vector<std::wstring>{});
}

TEST_F(StatusFlow, OtherDeviceEventsReturnZeroAndDoNothing) {
    StartWithNoUnit();
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    const std::size_t before = dialog.log.size();
    const std::size_t opened = bus.opened.size();
    const TestBroadcast broadcast{5, UNIT_PATH};
    for (const std::uintptr_t event : {0x0007u, 0x0018u, 0x8001u, 0x8002u, 0x8003u, 0x8006u, 0xFFFFu}) {
        EXPECT_EQ(OnDeviceChange(dialog, event, 0), 0) << event;
        EXPECT_EQ(OnDeviceChange(dialog, event, BroadcastOf(broadcast)), 0) << event;
    }
    EXPECT_EQ(LogSince(before), std::vector<std::wstring>{});
    EXPECT_EQ(bus.opened.size(), opened);
}

TEST_F(StatusFlow, AnyHidArrivalSearchesTheWholeBus) {
    // A unit attached while the program could not see it is found at the next arrival
    // of anything, a keyboard for instance.
    StartWithNoUnit();
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    bus.PlugOther(KEYBOARD_PATH, 0x046D, 0xC31C);
    EXPECT_EQ(Arrive(), 1);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
    EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
}

// ---- status with hint ----

TEST_F(StatusFlow, StatusWithHintReplacesWhateverTheBoxHeld) {
    for (const std::uint16_t id : {IDS_WRONG_MODE, IDS_NO_ESC, IDS_NO_UNIT, IDS_CONNECTION_LOST, IDS_INCOMPATIBLE_STATUS}) {
        for (const CatalogueLanguage language : {CatalogueLanguage::English, CatalogueLanguage::German}) {
            dialog = FakeDialog{};
            dialog.language = language;
            dialog.texts[IDC_STATUS] = L"an earlier text\r\nof two lines";
            ShowStatusWithHint(dialog, id);
            EXPECT_EQ(dialog.Status(), WithHint(id)) << id;
            EXPECT_EQ(dialog.log, HintLog(id)) << "read back from the box, sized to box plus hint";
        }
    }
}

TEST_F(StatusFlow, LongestStatusWithHintIsKeptWhole) {
    dialog.language = CatalogueLanguage::German;
    ShowStatusWithHint(dialog, IDS_INCOMPATIBLE_STATUS);
    EXPECT_EQ(dialog.Status(), WithHint(IDS_INCOMPATIBLE_STATUS));
    EXPECT_GT(dialog.Status().size(), 990u) << "the longest of them, nowhere near the 2048 bound";
}

TEST_F(StatusFlow, HintIsAppendedToWhatTheBoxActuallyHolds) {
    // An edit control that kept less than it was given: the hint follows what it kept.
    class ShortBox : public FakeDialog {
    public:
        void SetControlText(std::int32_t id, const std::wstring& text) override {
            FakeDialog::SetControlText(id, writes++ == 0 ? text.substr(0, 10) : text);
        }
        int writes = 0;
    } box;
    ShowStatusWithHint(box, IDS_NO_UNIT);
    EXPECT_EQ(box.Status(), Msg(IDS_NO_UNIT).substr(0, 10) + Msg(IDS_HINT));
}

}  // namespace
