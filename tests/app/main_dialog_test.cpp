// The main dialog as the update's view, its progress window, and the decisions of its
// dialog procedure.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/status_flow.h"
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

// The update's waits keep the window alive, so the dialog's handlers run in the middle of
// the sequence. A quick re-plug there must not hand the rest of the update to a unit that
// was never locked, unprotected or erased, nor may a sent command start or end anything.
TEST_F(WholeUpdate, HandlersRunningDuringTheSequenceLeaveTheUpdateAlone) {
    struct HookClock : FakeClock {
        std::function<void()> afterSleep;
        void Sleep(std::uint32_t ms) override {
            FakeClock::Sleep(ms);
            if (afterSleep) {
                afterSleep();
            }
        }
    } hookClock;
    ASSERT_TRUE(LoadSimScenario("ready", bus));
    OnInitDialog(dialog, FAKE_MAIN_WINDOW);
    systemClock = &hookClock;
    const std::wstring first = SimUnitPath(PRODUCT_TUNE_BOX, 0);
    const std::wstring second = SimUnitPath(PRODUCT_TUNE_BOX, 1);
    bool inSequence = false;
    hookClock.afterSleep = [&] {
        inSequence = inSequence || updateInProgress;
        if (hookClock.sleeps.size() != 7) {  // the wait after the first block
            return;
        }
        bus.Unplug(first);
        const TestBroadcast removal{5, first};
        EXPECT_EQ(OnDeviceChange(dialog, 0x8004, BroadcastOf(removal)), 1);
        ASSERT_TRUE(LoadSimScenario("ready", bus, 1));
        const TestBroadcast arrival{5, second};
        EXPECT_EQ(OnDeviceChange(dialog, 0x8000, BroadcastOf(arrival)), 1);
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);
        EXPECT_EQ(OnCommand(dialog, view, COMMAND_CLOSE), 1);
        EXPECT_TRUE(RefusesEndSession());
    };

    EXPECT_EQ(OnCommand(dialog, view, COMMAND_UPDATE), 1);

    EXPECT_TRUE(inSequence);
    EXPECT_FALSE(updateInProgress);
    EXPECT_TRUE(bus.Unit(second)->requests.empty()) << "nothing reaches the new unit";
    EXPECT_EQ(deviceSession.handle, NO_DEVICE_HANDLE);
    ASSERT_EQ(dialog.boxes.size(), 2u) << "the confirmation and the failure, nothing else";
    EXPECT_EQ(dialog.boxes[1].text, Msg(IDS_BLOCK_FAILED)) << "code -1: no code line";
    EXPECT_EQ(dialog.Status(), Msg(IDS_UPDATE_FAILED));
    EXPECT_FALSE(dialog.Enabled(IDC_UPDATE));
    EXPECT_TRUE(dialog.endResults.empty()) << "Close was not acted on in the middle";
    EXPECT_FALSE(RefusesEndSession()) << "the session may end once the update is over";
}

}  // namespace
