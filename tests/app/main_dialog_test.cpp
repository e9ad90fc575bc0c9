// The main dialog as the update's view, its progress window, and the decisions of its
// dialog procedure.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/dialog_phase.h"
#include "app/main_dialog.h"
#include "app/status_flow.h"
#include "link/link.h"
#include "sim/sim_unit.h"
#include "tests/app/fake_dialog.h"
#include "update/firmware_update.h"

namespace {

const std::wstring MAIN = std::to_wstring(FAKE_MAIN_WINDOW);
const std::wstring PROGRESS = std::to_wstring(FAKE_PROGRESS_WINDOW);

class MainDialogTest : public DialogTest {
protected:
    MainDialog view{dialog};

    void SetUp() override {
        DialogTest::SetUp();
        mainWindow = FAKE_MAIN_WINDOW;
        dialog.rectangles[FAKE_MAIN_WINDOW] = {100, 100, 556, 478};
    }
    void OpenAndClearLog() {
        view.OpenProgressWindow(L"caption");
        dialog.log.clear();
    }
};

// ---- progress window ----

TEST_F(MainDialogTest, ProgressWindowIsCentredTopLevelBarRaisedWithTheMainWindow) {
    view.OpenProgressWindow(Msg(IDS_PROGRESS_CAPTION));
    const std::vector<std::wstring> expected = {
        L"rect " + MAIN,
        L"create msctls_progress32 [Firmware update in progress, please wait...] 268435457 128,264 400x50 owner " + MAIN,
        L"position " + PROGRESS + L" 0",
        L"raise " + MAIN,
        L"raise " + PROGRESS,
    };
    EXPECT_EQ(dialog.log, expected);
    view.CloseProgressWindow();
    EXPECT_EQ(dialog.log.back(), L"destroy " + PROGRESS);
}

TEST_F(MainDialogTest, ProgressWindowPositionHalvesByArithmeticShift) {
    struct Case {
        WindowRect main;
        const wchar_t* position;
    };
    const Case cases[] = {
        {{100, 100, 556, 478}, L"128,264"},
        {{-501, -3, 0, 0}, L"-451,-27"},  // odd sizes, left of and above the screen's origin
        {{0, 0, 1, 1}, L"-200,-25"},
        {{10, 20, 411, 71}, L"10,20"},
        {{-1000, -1000, -600, -950}, L"-1000,-1000"},
    };
    for (const Case& c : cases) {
        dialog.log.clear();
        dialog.rectangles[FAKE_MAIN_WINDOW] = c.main;
        view.OpenProgressWindow(L"p");
        ASSERT_GE(dialog.log.size(), 2u);
        EXPECT_NE(dialog.log[1].find(std::wstring(L" ") + c.position + L" 400x50 "), std::wstring::npos)
            << testing::PrintToString(dialog.log[1]);
        view.CloseProgressWindow();
    }
}

struct RaiseCase {
    const char* label;
    std::vector<WindowId> foreground;  // GetForegroundWindow's answers in order
    std::vector<bool> raisedAt;        // per SetProgress call: whether both windows are raised
};

class RaiseRule : public MainDialogTest, public ::testing::WithParamInterface<RaiseCase> {};

TEST_P(RaiseRule, RaisesBothWindowsOnceOneOfThemHasTheForeground) {
    const RaiseCase& test = GetParam();
    OpenAndClearLog();
    dialog.foreground.assign(test.foreground.begin(), test.foreground.end());
    for (std::size_t call = 0; call < test.raisedAt.size(); ++call) {
        SCOPED_TRACE(call);
        dialog.log.clear();
        view.SetProgress(static_cast<std::uint32_t>(call * 10));
        ASSERT_FALSE(dialog.log.empty());
        EXPECT_EQ(dialog.log[0], L"position " + PROGRESS + L" " + std::to_wstring(call * 10));
        const std::vector<std::wstring> raise = {L"raise " + MAIN, L"raise " + PROGRESS, L"show " + MAIN + L" 5",
                                                 L"show " + PROGRESS + L" 5"};
        const bool raised = std::search(dialog.log.begin(), dialog.log.end(), raise.begin(), raise.end()) !=
                            dialog.log.end();
        EXPECT_EQ(raised, test.raisedAt[call]);
        if (raised) {
            EXPECT_EQ(std::vector<std::wstring>(dialog.log.end() - 4, dialog.log.end()), raise)
                << "main window first, then the bar; SetWindowPos before ShowWindow";
        }
    }
    EXPECT_TRUE(dialog.foreground.empty()) << "GetForegroundWindow asked as often as the rule asks";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RaiseRule,
    ::testing::Values(
        // Asked once (the main window) and a third time (remembered): raised, then never again.
        RaiseCase{"main_window_in_front", {FAKE_MAIN_WINDOW, FAKE_MAIN_WINDOW}, {true, false, false}},
        // Asked a second time for the bar, then a third time.
        RaiseCase{"bar_in_front", {FAKE_OTHER_WINDOW, FAKE_PROGRESS_WINDOW, FAKE_PROGRESS_WINDOW}, {true, false}},
        RaiseCase{"other_program_in_front",
                  {FAKE_OTHER_WINDOW, FAKE_OTHER_WINDOW, FAKE_OTHER_WINDOW, FAKE_OTHER_WINDOW, 0, 0},
                  {false, false, false}},
        RaiseCase{"main_window_comes_in_front_later",
                  {FAKE_OTHER_WINDOW, FAKE_OTHER_WINDOW, FAKE_MAIN_WINDOW, FAKE_MAIN_WINDOW},
                  {false, true, false}},
        // The third answer is what is remembered: another window there lets the rule fire again.
        RaiseCase{"foreground_changes_before_it_is_remembered",
                  {FAKE_MAIN_WINDOW, FAKE_OTHER_WINDOW, FAKE_MAIN_WINDOW, FAKE_PROGRESS_WINDOW},
                  {true, true, false}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(MainDialogTest, RaiseRuleStartsAfreshWithEachProgressWindow) {
    for (int round = 0; round < 2; ++round) {
        OpenAndClearLog();
        dialog.foreground = {FAKE_MAIN_WINDOW, FAKE_MAIN_WINDOW};
        view.SetProgress(1);
        EXPECT_EQ(std::count(dialog.log.begin(), dialog.log.end(), L"raise " + MAIN), 1) << round;
        view.CloseProgressWindow();
    }
}

// ---- boxes and controls ----

TEST_F(MainDialogTest, QuestionsAreTrueOnlyForTheirAcceptingAnswer) {
    struct Case {
        bool yesNo;
        std::int32_t answer;
        bool result;
    };
    const Case cases[] = {
        {false, 1, true}, {false, 2, false}, {false, 6, false}, {false, 0, false},
        {true, 6, true},  {true, 7, false},  {true, 1, false},  {true, 2, false},
    };
    for (const Case& c : cases) {
        dialog.boxes.clear();
        dialog.answers = {c.answer};
        const bool result = c.yesNo ? view.AskYesNo(L"the caption", L"the text")
                                    : view.AskConfirmation(L"the caption", L"the text");
        EXPECT_EQ(result, c.result) << c.yesNo << " " << c.answer;
        ASSERT_EQ(dialog.boxes.size(), 1u);
        EXPECT_EQ(dialog.boxes[0].flags, c.yesNo ? 0x34u : 0x31u);
        EXPECT_EQ(dialog.boxes[0].caption, L"the caption");
        EXPECT_EQ(dialog.boxes[0].text, L"the text");
    }
}

TEST_F(MainDialogTest, ErrorBoxStatusAndUpdateButton) {
    view.ShowErrorBox(L"cap", L"txt");
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_EQ(dialog.boxes[0].caption, L"cap");
    EXPECT_EQ(dialog.boxes[0].text, L"txt");

    dialog.log.clear();
    view.SetStatusText(L"status");
    view.SetUpdateEnabled(true);
    view.SetUpdateEnabled(false);
    EXPECT_EQ(dialog.log, (std::vector<std::wstring>{L"text 40004 status", L"enable 1002 1", L"enable 1002 0"}));

    dialog.language = CatalogueLanguage::German;
    EXPECT_EQ(view.LoadMessage(IDS_UPDATE_FAILED_CAPTION), L"Update fehlgeschlagen!");
}

// ---- dialog procedure decisions ----

TEST_F(MainDialogTest, CommandsOtherThanCloseAndUpdateAreNotHandled) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    deviceNotification = FAKE_REGISTRATION;
    for (const std::uint16_t id : {0, 1, 3, 1001, 1003, 1005, 40004, 40007, 0xFFFF}) {
        EXPECT_EQ(OnCommand(dialog, view, id), 0) << id;
    }
    EXPECT_TRUE(dialog.log.empty());
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(deviceNotification, FAKE_REGISTRATION);
}

TEST_F(MainDialogTest, CloseUnregistersResetsAndEndsWithTwo) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    ASSERT_EQ(OpenUnit(deviceSession), LINK_OK);
    deviceNotification = FAKE_REGISTRATION;

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1);
    EXPECT_EQ(dialog.log, (std::vector<std::wstring>{L"unregister", L"end 2"}));
    EXPECT_EQ(dialog.unregistered, std::vector<std::uintptr_t>{FAKE_REGISTRATION});
    EXPECT_EQ(deviceNotification, 0u);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(bus.OpenHandleCount(), 0u);
}

TEST_F(MainDialogTest, CloseWithoutUnitOrRegistrationStillEndsWithTwo) {
    EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1);
    EXPECT_EQ(dialog.log, std::vector<std::wstring>{L"end 2"});
    EXPECT_EQ(bus.closeCalls, 0u);
}

TEST_F(MainDialogTest, UpdateCommandRunsTheUpdateToItsEnd) {
    // No unit open: the update reports it without a question.
    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, Msg(IDS_UNIT_NOT_DETECTED));
    EXPECT_EQ(dialog.boxes[0].caption, Msg(IDS_UPDATE_FAILED_CAPTION));
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
}

TEST_F(MainDialogTest, OnlyTheThirdVersionLineIsRed) {
    struct Case {
        std::int32_t control;
        bool red;
        std::vector<std::wstring> asked;
    };
    const Case cases[] = {
        {IDC_ESC_LABEL, true, {L"control 40011"}},
        {IDC_ESC_VERSION, true, {L"control 40011", L"control 40015"}},
        {IDC_UNIT_LABEL, false, {L"control 40011", L"control 40015"}},
        {IDC_BOOTLOADER_LABEL, false, {L"control 40011", L"control 40015"}},
        {IDC_UNIT_VERSION, false, {L"control 40011", L"control 40015"}},
        {IDC_BOOTLOADER_VERSION, false, {L"control 40011", L"control 40015"}},
        {IDC_STATUS, false, {L"control 40011", L"control 40015"}},
    };
    for (const Case& c : cases) {
        dialog.log.clear();
        EXPECT_EQ(DrawsRedText(dialog, FakeDialog::ControlWindowOf(c.control)), c.red) << c.control;
        EXPECT_EQ(dialog.log, c.asked) << c.control;
    }
}

// ---- a whole update through the dialog ----

std::array<std::uint8_t, 128> smallImage;

FirmwareImage SmallImage(std::uint16_t) {
    return {smallImage.data(), static_cast<std::uint32_t>(smallImage.size())};
}

class WholeUpdate : public MainDialogTest {
protected:
    FirmwareImageLoader savedLoader = firmwareImageLoader;
    void SetUp() override {
        MainDialogTest::SetUp();
        for (std::size_t i = 0; i < smallImage.size(); ++i) {
            smallImage[i] = static_cast<std::uint8_t>(i * 7 + 1);
        }
        firmwareImageLoader = SmallImage;
    }
    void TearDown() override {
        firmwareImageLoader = savedLoader;
        MainDialogTest::TearDown();
    }
};

TEST_F(WholeUpdate, SucceedsThroughTheDialogAndLeavesTheUnitOpenUntilRemoved) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    ASSERT_EQ(dialog.Status(), Msg(IDS_READY));
    ASSERT_EQ(dialog.Text(IDC_ESC_VERSION), L"3.2");
    dialog.log.clear();

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_SUCCEEDED));
    EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), L"3.3");
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
    ASSERT_EQ(dialog.boxes.size(), 1u) << "the confirmation only";
    EXPECT_EQ(dialog.boxes[0].flags, 0x31u);
    // 128 bytes: two blocks of 48 and one of 32.
    std::vector<std::wstring> bar;
    std::copy_if(dialog.log.begin(), dialog.log.end(), std::back_inserter(bar), [](const std::wstring& entry) {
        return entry.rfind(L"position", 0) == 0 || entry.rfind(L"create", 0) == 0 || entry.rfind(L"destroy", 0) == 0;
    });
    ASSERT_EQ(bar.size(), 6u);
    EXPECT_EQ(bar[0].rfind(L"create msctls_progress32 [" + Msg(IDS_PROGRESS_CAPTION) + L"]", 0), 0u);
    EXPECT_EQ(bar[1], L"position " + PROGRESS + L" 0");
    EXPECT_EQ(bar[2], L"position " + PROGRESS + L" 37");
    EXPECT_EQ(bar[3], L"position " + PROGRESS + L" 75");
    EXPECT_EQ(bar[4], L"position " + PROGRESS + L" 100");
    EXPECT_EQ(bar[5], L"destroy " + PROGRESS);

    // AFTER UPDATE: arrivals are ignored, the removal of the unit shows 40020.
    const std::size_t before = dialog.log.size();
    const TestBroadcast arrival{5, L"\\\\?\\hid#another"};
    EXPECT_EQ(OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival)), 1);
    EXPECT_EQ(dialog.log.size(), before);
    bus.Unplug(SimUnitPath(PRODUCT_TUNE_BOX, 0));
    const TestBroadcast removal{5, SimUnitPath(PRODUCT_TUNE_BOX, 0)};
    EXPECT_EQ(OnDeviceChange(dialog, 0x8004, BroadcastOf(removal)), 1);
    EXPECT_EQ(dialog.Status(), Msg(IDS_CONNECTION_LOST) + L"\r\n\r\n" + Msg(IDS_HINT));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
}

TEST_F(WholeUpdate, RemovalWhileTheQuestionIsOpenFailsTheLockStep) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    const std::wstring path = SimUnitPath(PRODUCT_TUNE_BOX, 0);
    dialog.whileBoxOpen = [&](const BoxCall& box) {
        if (box.flags == 0x31u) {
            bus.Unplug(path);
            const TestBroadcast removal{5, path};
            OnDeviceChange(dialog, 0x8004, BroadcastOf(removal));
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[1].text, Msg(IDS_LOCK_FAILED)) << "code -1: no code line";
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
}

// ---- the update is safe under what a user does meanwhile ----

const std::wstring UNIT_A = SimUnitPath(PRODUCT_TUNE_BOX, 0);
const std::wstring UNIT_B = SimUnitPath(PRODUCT_TUNE_BOX, 1);
constexpr std::uint32_t DEVICE_NOT_CONNECTED = SIM_LAST_ERROR_DEVICE_NOT_CONNECTED;

// A ready unit A, opened and accepted at start, and helpers that act as Windows would
// while the update waits: take a unit off the bus and send the removal, plug one in and
// send the arrival.
class UpdateUnderUserActions : public WholeUpdate {
protected:
    SimulatedUnit* unitA = nullptr;

    void SetUp() override {
        WholeUpdate::SetUp();
        bus.setLastError = [this](std::uint32_t error) { clock.lastError = error; };
    }
    void TearDown() override {
        clock.duringSleep = nullptr;
        WholeUpdate::TearDown();
    }
    void StartWith(const char* scenario) {
        ASSERT_TRUE(LoadSimScenario(scenario, bus));
        unitA = bus.Unit(UNIT_A);
        OnInitDialog(dialog, FAKE_MAIN_WINDOW);
        ASSERT_EQ(dialog.Status(), Msg(IDS_READY));
        ASSERT_TRUE(dialog.Enabled(IDC_UPDATE));
    }
    void Remove(const std::wstring& path) {
        bus.Unplug(path);
        const TestBroadcast removal{5, path};
        EXPECT_EQ(OnDeviceChange(dialog, 0x8004, BroadcastOf(removal)), 1);
    }
    SimulatedUnit& Arrive(const std::wstring& path, const SimConfig& config = SimConfig{}) {
        SimulatedUnit& unit = bus.Plug(path, config);
        const TestBroadcast arrival{5, path};
        EXPECT_EQ(OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival)), 1);
        return unit;
    }
    // The commands unit A received after its identification.
    std::vector<std::uint8_t> UpdateCommandsOfA(std::size_t identification) const {
        const std::vector<std::uint8_t> all = unitA->Commands();
        return {all.begin() + static_cast<std::ptrdiff_t>(identification), all.end()};
    }
    // The error box's text: the step's text and, unless null, the code line's numbers.
    std::wstring FailureText(std::uint16_t id, const wchar_t* numbers) const {
        std::wstring text = Msg(id);
        if (numbers != nullptr) {
            text += L"\r\nThe system shows following errorcode: ";
            text += numbers;
        }
        return text;
    }
};

// Unit A is ready and the user presses Update; while a question is open A is pulled and
// B plugged in. Whatever B is, the sequence must not reach it: it could carry another
// model's ESC. B held or accepted by then is given up, to be examined at its next arrival.
struct SwapCase {
    const char* name;
    const char* scenario;       // what A is: "newer" asks the version question as well
    std::uint32_t swapAtBox;    // flags of the box during which the swap happens
    bool bHeld;                 // B's ESC answers the bootloader query with error 5
    bool samePath;              // B comes on A's path (another unit in the same port)
};

class SwapDuringQuestion : public UpdateUnderUserActions, public ::testing::WithParamInterface<SwapCase> {};

TEST_P(SwapDuringQuestion, SendsNothingToEitherUnitAndGivesTheOtherUp) {
    const SwapCase& c = GetParam();
    StartWith(c.scenario);
    dialog.answers = {1, 6};  // OK, and Yes where the version question comes
    const std::size_t identificationOfA = unitA->requests.size();
    const std::wstring pathB = c.samePath ? UNIT_A : UNIT_B;
    SimulatedUnit* unitB = nullptr;
    std::size_t identificationOfB = 0;
    dialog.whileBoxOpen = [&](const BoxCall& box) {
        if (box.flags != c.swapAtBox) {
            return;
        }
        Remove(UNIT_A);
        SimConfig config;
        unitB = &bus.Plug(pathB, config);
        if (c.bHeld) {
            unitB->commandFaults[{CMD_READ_ESC_BOOT_INFO, 0}] = {SimFault::Kind::ErrorReply, 5};
        }
        const TestBroadcast arrival{5, pathB};
        EXPECT_EQ(OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival)), 1);
        identificationOfB = unitB->requests.size();
        EXPECT_GT(identificationOfB, 0u) << "B was opened and identified at its arrival";
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_NE(unitB, nullptr);
    EXPECT_EQ(unitB->requests.size(), identificationOfB) << "nothing of the update reached B";
    EXPECT_EQ(unitB->flash, SimulatedUnit(SimConfig{}).flash) << "B's firmware is untouched";
    EXPECT_EQ(unitA->requests.size(), identificationOfA + 3) << "nor A, but its identification at the press";
    ASSERT_FALSE(dialog.boxes.empty());
    EXPECT_EQ(dialog.boxes.back().caption, Msg(IDS_UPDATE_FAILED_CAPTION));
    EXPECT_EQ(dialog.boxes.back().text, FailureText(IDS_LOCK_FAILED, nullptr));
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE) << "B was given up";
    EXPECT_EQ(bus.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SwapDuringQuestion,
    ::testing::Values(SwapCase{"HeldUnitDuringConfirmation", "ready", 0x31, true, false},
                      SwapCase{"AcceptedUnitDuringConfirmation", "ready", 0x31, false, false},
                      SwapCase{"UnitOnTheSamePathDuringConfirmation", "ready", 0x31, false, true},
                      SwapCase{"HeldUnitDuringVersionQuestion", "newer", 0x34, true, false},
                      SwapCase{"AcceptedUnitOnTheSamePathDuringVersionQuestion", "newer", 0x34, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Another ESC connected to unit A's cable makes no USB event. When Update is pressed the
// ESC is asked again: one that is not the ESC shown is shown as an arrival would show it,
// after a box that says it changed, and nothing is asked or written. Also after a
// cancelled question, which leaves Update enabled.
struct EscSwapCase {
    const char* name;
    void (*configure)(SimConfig& esc);
    bool afterCancel;
    std::vector<std::uint32_t> boxFlags;  // the boxes after the press
    std::uint16_t status;
    bool hint;
    bool updateEnabled;
    const wchar_t* escVersion;  // the ESC firmware line
};

class EscSwappedBehindTheUnit : public UpdateUnderUserActions, public ::testing::WithParamInterface<EscSwapCase> {};

TEST_P(EscSwappedBehindTheUnit, IsShownAnewAndNothingIsWritten) {
    const EscSwapCase& c = GetParam();
    StartWith("ready");
    if (c.afterCancel) {
        dialog.answers = {2};  // Cancel
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
        ASSERT_TRUE(dialog.Enabled(IDC_UPDATE));
        dialog.boxes.clear();
    }
    SimConfig esc;
    c.configure(esc);
    unitA->ConnectEsc(esc);
    const std::vector<std::uint8_t> flashBefore = unitA->flash;
    const std::size_t before = unitA->requests.size();
    std::wstring versionDuringIncompatibleBox;
    dialog.whileBoxOpen = [&](const BoxCall& box) {
        if (box.caption == Msg(IDS_INCOMPATIBLE_CAPTION)) {
            versionDuringIncompatibleBox = dialog.Text(IDC_ESC_VERSION);
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), c.boxFlags.size());
    for (std::size_t i = 0; i < c.boxFlags.size(); ++i) {
        EXPECT_EQ(dialog.boxes[i].flags, c.boxFlags[i]) << i;
    }
    EXPECT_EQ(dialog.boxes[0].caption, Msg(IDS_ESC_CHANGED_CAPTION));
    EXPECT_EQ(dialog.boxes[0].text, Msg(IDS_ESC_CHANGED));
    EXPECT_EQ(dialog.Status(), c.hint ? Msg(c.status) + L"\r\n\r\n" + Msg(IDS_HINT) : Msg(c.status));
    EXPECT_EQ(dialog.Enabled(IDC_UPDATE), c.updateEnabled);
    EXPECT_EQ(dialog.Text(IDC_ESC_VERSION), c.escVersion);
    EXPECT_EQ(deviceSession.handle != NO_DEVICE_HANDLE, c.updateEnabled);
    const std::vector<std::uint8_t> commands = unitA->Commands();
    EXPECT_EQ(std::vector<std::uint8_t>(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end()),
              esc.escState == 3 ? (std::vector<std::uint8_t>{CMD_IDENTIFY, CMD_READ_ESC_APP_INFO, CMD_READ_ESC_BOOT_INFO})
                                : std::vector<std::uint8_t>{CMD_IDENTIFY})
        << "the identification alone";
    EXPECT_EQ(unitA->flash, flashBefore);
    EXPECT_EQ(dialogPhase, DialogPhase::Idle);
    if (c.boxFlags.size() > 1) {
        EXPECT_EQ(versionDuringIncompatibleBox, L"0.0.0") << "the ESC that was there is not shown beside the box";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Escs, EscSwappedBehindTheUnit,
    ::testing::Values(
        EscSwapCase{"Foreign", [](SimConfig& e) { e.escHardwareId = 0x12345678; }, false, {0x40, 0x40},
                    IDS_INCOMPATIBLE_STATUS, true, false, L"0.0.0"},
        EscSwapCase{"ForeignAfterCancel", [](SimConfig& e) { e.escHardwareId = 0x12345678; }, true, {0x40, 0x40},
                    IDS_INCOMPATIBLE_STATUS, true, false, L"0.0.0"},
        EscSwapCase{"None", [](SimConfig& e) { e.escState = 2; }, false, {0x40}, IDS_NO_ESC, true, false, L"0.0.0"},
        EscSwapCase{"AcceptedWithOtherFirmware", [](SimConfig& e) { e.escFirmwareVersion = 0x0303; }, false, {0x40},
                    IDS_READY, false, true, L"3.3"},
        EscSwapCase{"OtherAcceptedModelAfterCancel", [](SimConfig& e) { e.escHardwareId = 0x0A06408C; }, true,
                    {0x40}, IDS_READY, false, true, L"3.2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateUnderUserActions, UnitThatStaysThroughTheQuestionsIsUpdated) {
    StartWith("newer");
    dialog.answers = {1, 6};  // OK, Yes
    const std::uint32_t opened = deviceSession.openSerial;
    EXPECT_NE(opened, 0u);

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 2u) << "both questions, no failure";
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_SUCCEEDED));
    EXPECT_EQ(deviceSession.openSerial, opened);
    EXPECT_TRUE(std::equal(smallImage.begin(), smallImage.end(), unitA->flash.begin()));
}

// A unit pulled during the command sequence: the removal waits until the update has
// ended, the exchange in progress fails on its own, and the box names that step with its
// code line (the write or read failed, and Windows' "device not connected", 0x48f).
struct PullCase {
    const char* name;
    std::size_t wait;          // the update's wait (from 0) during which the unit is pulled
    std::uint16_t failureText;
    const wchar_t* numbers;
};

class PullDuringSequence : public UpdateUnderUserActions, public ::testing::WithParamInterface<PullCase> {};

TEST_P(PullDuringSequence, FailsTheStepInProgressWithItsCodeLine) {
    const PullCase& c = GetParam();
    StartWith("ready");
    const std::size_t waitsBefore = clock.sleeps.size();
    bool handledMeanwhile = true;
    clock.duringSleep = [&] {
        if (clock.sleeps.size() - waitsBefore - 1 == c.wait) {
            Remove(UNIT_A);
            handledMeanwhile = deviceSession.handle == NO_DEVICE_HANDLE;
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_FALSE(handledMeanwhile) << "the removal waited for the update's end";
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[1].text, FailureText(c.failureText, c.numbers));
    EXPECT_TRUE(dialog.mainWindowEnabled) << "the window takes input again after any failing step";
    EXPECT_FALSE(dialog.sessionEndReason.has_value());
    const auto discard = std::find(dialog.log.begin(), dialog.log.end(), L"discard input");
    EXPECT_LT(discard, std::find(dialog.log.begin(), dialog.log.end(), L"box 16"));
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED)) << "the removal found no unit open afterwards";
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    EXPECT_EQ(bus.OpenHandleCount(), 0u);
}

// Waits: 0 before the sequence's identification of the ESC, 1 before 5b, 2 before 5c, 3
// inside the erase before its reply is read, 4 the 4000 ms after it, 5 before 5d, 6
// before 5e, 7 after the first block.
INSTANTIATE_TEST_SUITE_P(
    Steps, PullDuringSequence,
    ::testing::Values(PullCase{"BeforeTheEscIsChecked", 0, IDS_LOCK_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"BeforeProtectionOff", 1, IDS_PROTECT_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"BeforeErase", 2, IDS_ERASE_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"WhileEraseRuns", 3, IDS_ERASE_FAILED, L"0xfffffffd-0x0000048f"},
                      PullCase{"AfterErase", 4, IDS_ADDRESS_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"BeforeAddress", 5, IDS_ADDRESS_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"BeforeTransfer", 6, IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"},
                      PullCase{"AfterFirstBlock", 7, IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateUnderUserActions, PullWhileABlockReplyIsAwaitedFailsTheRead) {
    StartWith("ready");
    // The second block's reply takes 7 ms (after the two identifications of the ESC, the
    // four steps and the first block); the unit is pulled while it is awaited.
    unitA->replyDelayMs[unitA->exchanges + 6 + 5] = 7;
    clock.duringSleep = [&] {
        if (clock.sleeps.back() == 7) {
            Remove(UNIT_A);
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[1].text, FailureText(IDS_BLOCK_FAILED, L"0xfffffffd-0x0000048f"));
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED));
}

// Changes that waited are handled in the order they came: a unit pulled and plugged in
// again on the same path after the last block is found again once the update is over.
TEST_F(UpdateUnderUserActions, PullAndReplugAfterTheLastBlockAreHandledInOrder) {
    StartWith("ready");
    const std::uint32_t opened = deviceSession.openSerial;
    const std::size_t waitsBefore = clock.sleeps.size();
    clock.duringSleep = [&] {
        if (clock.sleeps.size() - waitsBefore == 10) {  // after the third and last block
            Remove(UNIT_A);
            Arrive(UNIT_A);
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_EQ(dialog.boxes.size(), 1u) << "the update succeeded";
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY)) << "found again after its removal";
    EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
    EXPECT_NE(deviceSession.openSerial, opened);
    EXPECT_NE(std::find(dialog.log.begin(), dialog.log.end(), L"text 40004 " + Msg(IDS_UPDATE_SUCCEEDED)),
              dialog.log.end());
}

// A unit held open after its identification failed is no unit to update, even when an
// Update command reaches the dialog although the button is disabled.
TEST_F(UpdateUnderUserActions, HeldUnitIsNeverUpdated) {
    SimulatedUnit& held = bus.Plug(UNIT_A, SimConfig{});
    held.commandFaults[{CMD_READ_ESC_BOOT_INFO, 0}] = {SimFault::Kind::ErrorReply, 5};
    const TestBroadcast arrival{5, UNIT_A};
    mainWindow = FAKE_MAIN_WINDOW;
    OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival));
    ASSERT_NE(deviceSession.handle, NO_DEVICE_HANDLE) << "held";
    const std::size_t identification = held.requests.size();

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 1u) << "no question";
    EXPECT_EQ(dialog.boxes[0].text, FailureText(IDS_UNIT_NOT_DETECTED, nullptr));
    EXPECT_EQ(held.requests.size(), identification);
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE) << "given up, to be examined at its next arrival";
}

// Arrivals wait as well, and are handled once the update has ended: a unit plugged in
// again during the transfer, or while the failure box is open, is found without another
// replug, and its ready status comes after the failure status.
TEST_F(UpdateUnderUserActions, ArrivalsDuringSequenceAndFailureBoxAreHandledAfterTheUpdate) {
    for (const bool duringBox : {false, true}) {
        SCOPED_TRACE(duringBox ? "during the failure box" : "during the sequence");
        deviceSession.Reset();
        bus.Unplug(UNIT_A);
        bus.Unplug(UNIT_B);
        const std::wstring pathA = duringBox ? SimUnitPath(PRODUCT_TUNE_BOX, 2) : UNIT_A;
        SimulatedUnit& a = bus.Plug(pathA, SimConfig{});
        const TestBroadcast arrivalA{5, pathA};
        OnDeviceChange(dialog, 0x8000, BroadcastOf(arrivalA));
        ASSERT_EQ(dialog.Status(), Msg(IDS_READY));
        dialog.boxes.clear();
        SimulatedUnit* b = nullptr;
        const std::size_t waitsBefore = clock.sleeps.size();
        if (duringBox) {
            a.commandFaults[{CMD_WRITE_BLOCK, 1}] = {SimFault::Kind::ErrorReply, SIM_ERROR_BLOCK_FAILED};
            dialog.whileBoxOpen = [&](const BoxCall& box) {
                if (box.flags == 0x10) {
                    Remove(pathA);
                    b = &Arrive(UNIT_B);
                    EXPECT_TRUE(b->requests.empty()) << "not opened while the box is open";
                }
            };
        } else {
            clock.duringSleep = [&] {
                if (clock.sleeps.size() - waitsBefore == 8) {  // after the second block
                    Remove(pathA);
                    b = &Arrive(UNIT_B);
                    EXPECT_TRUE(b->requests.empty()) << "not opened during the sequence";
                }
            };
        }

        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
        clock.duringSleep = nullptr;
        dialog.whileBoxOpen = nullptr;

        ASSERT_NE(b, nullptr);
        ASSERT_EQ(dialog.boxes.size(), 2u);
        EXPECT_EQ(dialog.boxes[1].text,
                  duringBox ? FailureText(IDS_BLOCK_FAILED, L"0x00000105-0x00000000")
                            : FailureText(IDS_BLOCK_FAILED, L"0xfffffffe-0x0000048f"));
        EXPECT_EQ(dialog.boxes[1].statusText, Msg(IDS_READY)) << "the failure status comes after the box";
        EXPECT_FALSE(b->requests.empty()) << "B was found after the update";
        ASSERT_NE(deviceSession.devicePath, nullptr);
        EXPECT_EQ(deviceSession.devicePath.get(), UNIT_B);
        EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
        EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
        // Each text the status box held after the box, in order.
        std::vector<std::wstring> statuses;
        const auto box = std::find(dialog.log.rbegin(), dialog.log.rend(), L"box 16");
        for (auto it = box.base(); it != dialog.log.end(); ++it) {
            if (it->rfind(L"text 40004 ", 0) == 0) {
                statuses.push_back(it->substr(11));
            }
        }
        EXPECT_EQ(statuses, (std::vector<std::wstring>{Msg(IDS_UPDATE_FAILED), Msg(IDS_READY)}));
    }
}

// During the command sequence the main window takes no input, the session may not end,
// and sent commands do nothing. Input the user made meanwhile is thrown away before the
// outcome is shown, so that neither a click on Close nor Enter acts on it afterwards.
TEST_F(UpdateUnderUserActions, InputDuringTheSequenceHasNoEffectThenOrLater) {
    StartWith("ready");
    const std::size_t waitsBefore = clock.sleeps.size();
    std::vector<bool> windowEnabled;
    clock.duringSleep = [&] {
        windowEnabled.push_back(dialog.mainWindowEnabled);
        if (clock.sleeps.size() - waitsBefore != 7) {
            return;
        }
        EXPECT_EQ(dialog.sessionEndReason, Msg(IDS_PROGRESS_CAPTION));
        EXPECT_TRUE(RefusesEndSession(dialogPhase));
        dialog.queuedInput = {COMMAND_CLOSE, COMMAND_UPDATE};  // a click and a key, queued
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1) << "a sent command";
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_EQ(windowEnabled, std::vector<bool>(windowEnabled.size(), false)) << "disabled for every wait";
    EXPECT_GT(windowEnabled.size(), 6u);
    EXPECT_TRUE(dialog.endResults.empty()) << "Close was not acted on";
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_SUCCEEDED));
    EXPECT_EQ(dialog.boxes.size(), 1u) << "the confirmation only: no second update";
    EXPECT_TRUE(dialog.queuedInput.empty()) << "the queued input was thrown away";
    EXPECT_TRUE(dialog.mainWindowEnabled);
    EXPECT_FALSE(dialog.sessionEndReason.has_value());
    EXPECT_FALSE(RefusesEndSession(dialogPhase));
    const auto discard = std::find(dialog.log.begin(), dialog.log.end(), L"discard input");
    const auto enable = std::find(dialog.log.begin(), dialog.log.end(), L"main window 1");
    const auto status = std::find(dialog.log.begin(), dialog.log.end(), L"text 40004 " + Msg(IDS_UPDATE_SUCCEEDED));
    const auto destroy = std::find(dialog.log.begin(), dialog.log.end(), L"destroy " + PROGRESS);
    EXPECT_LT(discard, enable) << "thrown away before the window takes input again";
    EXPECT_LT(enable, destroy) << "enabled before its owned window goes, to keep the activation";
    EXPECT_LT(enable, status);
}

TEST_F(UpdateUnderUserActions, FailureBoxComesOnlyAfterQueuedInputIsThrownAway) {
    StartWith("ready");
    unitA->commandFaults[{CMD_WRITE_BLOCK, 1}] = {SimFault::Kind::ErrorReply, SIM_ERROR_BLOCK_FAILED};
    clock.duringSleep = [&] { dialog.queuedInput = {COMMAND_CLOSE}; };
    dialog.whileBoxOpen = [&](const BoxCall& box) {
        if (box.flags == 0x10) {
            EXPECT_TRUE(dialog.queuedInput.empty()) << "an Enter made during the transfer would answer the box";
            EXPECT_TRUE(dialog.mainWindowEnabled);
            EXPECT_FALSE(dialog.sessionEndReason.has_value());
        }
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.boxes[1].text, FailureText(IDS_BLOCK_FAILED, L"0x00000105-0x00000000"));
}

// Commands reach the dialog only while it is idle: not while a unit is being identified,
// nor while a question is open.
TEST_F(UpdateUnderUserActions, CommandsDuringIdentificationOrQuestionAreDropped) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    bus.Unit(UNIT_A)->replyDelayMs[0] = 3;
    clock.duringSleep = [&] {
        EXPECT_EQ(dialogPhase, DialogPhase::Checking);
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1);
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
    };
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    clock.duringSleep = nullptr;
    dialog.whileBoxOpen = [&](const BoxCall&) {
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1);
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
    };
    dialog.answers = {2};  // Cancel

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_TRUE(dialog.endResults.empty());
    EXPECT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
    EXPECT_NE(deviceSession.handle, NO_DEVICE_HANDLE);
}

// A unit pulled while it is being identified (a silent or slow unit keeps the exchange
// waiting) is not closed under the exchange; its removal is handled once the check is
// done.
TEST_F(UpdateUnderUserActions, PullDuringIdentificationIsHandledAfterTheCheck) {
    struct Case {
        const char* name;
        bool atStart;
        std::uint16_t status;
    };
    for (const Case& c : {Case{"start-up", true, IDS_NO_UNIT}, Case{"arrival", false, IDS_CONNECTION_LOST}}) {
        SCOPED_TRACE(c.name);
        deviceSession.Reset();
        SimulatedUnit& unit = bus.Plug(SimUnitPath(PRODUCT_TUNE_BOX, c.atStart ? 3 : 4), SimConfig{});
        const std::wstring path = SimUnitPath(PRODUCT_TUNE_BOX, c.atStart ? 3 : 4);
        unit.replyDelayMs[1] = 3;  // the second identification reply is slow
        bool openMeanwhile = false;
        clock.duringSleep = [&] {
            Remove(path);
            openMeanwhile = deviceSession.handle != NO_DEVICE_HANDLE;
        };
        if (c.atStart) {
            OnInitDialog(dialog, FAKE_MAIN_WINDOW);
        } else {
            const TestBroadcast arrival{5, path};
            EXPECT_EQ(OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival)), 1);
        }
        clock.duringSleep = nullptr;

        EXPECT_TRUE(openMeanwhile) << "the unit stayed open under its exchange";
        EXPECT_EQ(dialog.Status(), Msg(c.status) + L"\r\n\r\n" + Msg(IDS_HINT));
        EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
        EXPECT_EQ(bus.OpenHandleCount(), 0u);
    }
}

// A unit that arrives while the start-up check identifies another one is found once the
// check is over, before the dialog waits for the user.
TEST_F(UpdateUnderUserActions, ArrivalDuringStartUpIdentificationIsHandledAtTheEndOfStartUp) {
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    bus.Unit(UNIT_A)->replyDelayMs[0] = 3;  // A's first reply is slow; it is pulled meanwhile
    clock.duringSleep = [&] {
        clock.duringSleep = nullptr;
        Remove(UNIT_A);
        Arrive(UNIT_B);
    };

    OnInitDialog(dialog, FAKE_MAIN_WINDOW);

    EXPECT_EQ(WaitingDeviceChanges(), 0u);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY));
    ASSERT_NE(deviceSession.devicePath, nullptr);
    EXPECT_EQ(deviceSession.devicePath.get(), UNIT_B);
}

TEST(DialogPhases, DecideWhatHandlersMayDo) {
    struct Row {
        DialogPhase phase;
        bool deviceChanges;
        bool commands;
        bool ignoresClose;
        bool refusesEndSession;
    };
    const Row rows[] = {
        {DialogPhase::Idle, true, true, false, false},
        {DialogPhase::Checking, false, false, false, false},
        {DialogPhase::Asking, true, false, false, false},
        {DialogPhase::Running, false, false, true, true},
        {DialogPhase::Reporting, false, false, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.phase));
        EXPECT_EQ(HandlesDeviceChanges(row.phase), row.deviceChanges);
        EXPECT_EQ(TakesCommands(row.phase), row.commands);
        EXPECT_EQ(IgnoresCloseRequest(row.phase), row.ignoresClose);
        EXPECT_EQ(RefusesEndSession(row.phase), row.refusesEndSession);
    }
}

TEST_F(UpdateUnderUserActions, DevelopmentBuildSaysSoAndRefusesBeforeSendingAnything) {
    placeholderImagesAllowed = false;
    StartWith("ready");
    EXPECT_EQ(dialog.title, L"QUORVEX ORVANTA 90 FW Updater 3.3 - development build, no firmware");
    const std::size_t identification = unitA->requests.size();

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    ASSERT_EQ(dialog.boxes.size(), 1u) << "no question, one error box";
    EXPECT_EQ(dialog.boxes[0].flags, 0x10u);
    EXPECT_EQ(dialog.boxes[0].caption, Msg(IDS_UPDATE_FAILED_CAPTION));
    EXPECT_NE(dialog.boxes[0].text.find(L"development build"), std::wstring::npos);
    EXPECT_NE(dialog.boxes[0].text.find(L"Nothing was sent"), std::wstring::npos);
    EXPECT_EQ(unitA->requests.size(), identification);
    EXPECT_EQ(dialog.Status(), Msg(IDS_READY)) << "nothing else changed";
    EXPECT_TRUE(dialog.Enabled(IDC_UPDATE));
}

}  // namespace
