// End-to-end cases: the real programs under Wine, driven through their windows.
//
//   e2e_driver --sim EXE --product EXE --lang en|de CASE   runs one case; exit 0 = passed
//   e2e_driver --list
//       one line a case, "NAME LANGUAGES TIMEOUT SKIP": the languages it runs in
//       (en or en,de), the seconds ctest gives it and the exit code by which it says it
//       does not apply to this build. ctest makes its tests from this list.
//   --release-firmware: the programs were built with the firmware release, so the
//       product is no development build.
//   --desktop NAME: the virtual desktop to run on ("" for the driver's own).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "res/resource.h"
#include "sim/sim_control.h"
#include "tests/e2e/expect.h"
#include "tests/e2e/window_driver.h"
#include "update/firmware_update.h"

namespace {

// The product of a build without the firmware release says in its title that it is a
// development build.
constexpr wchar_t DEVELOPMENT_TITLE[] = L"QUORVEX ORVANTA 90 FW Updater 3.3 - development build, no firmware";
constexpr wchar_t MODEL_NAME[] = L"ORVANTA 90";

bool releaseFirmware = false;  // --release-firmware: the programs carry the firmware release

// The languages a case runs in: every case in English, some in German as well.
enum class In { English, EnglishAndGerman };

const Expected NO_UNIT_AT_START = {IDS_NO_UNIT, true, nullptr, {}, false};
const Expected READY = {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"3.2"}, true};

std::wstring simExe;
std::wstring productExe;

// ---- start-up: each scenario's first state

struct StartCase {
    const char* name;
    In languages;
    const wchar_t* scenario;
    Expected expected;
    bool incompatibleBox;  // the box for a foreign ESC comes before the window is shown
};

const StartCase startCases[] = {
    {"start-none", In::EnglishAndGerman, L"none", NO_UNIT_AT_START, false},
    {"start-ready", In::EnglishAndGerman, L"ready", READY, false},
    {"start-ready-alt", In::English, L"ready-alt", READY, false},
    {"start-puck", In::English, L"puck", {IDS_READY, false, L"TUNEPUCK", {L"2.3", L"1.0.5", L"3.2"}, true},
     false},
    {"start-no-firmware", In::English, L"no-firmware",
     {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"----------"}, true}, false},
    {"start-newer", In::English, L"newer", {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"3.3"}, true},
     false},
    {"start-wrong-mode", In::English, L"wrong-mode", {IDS_WRONG_MODE, true, nullptr, {}, false}, false},
    {"start-no-esc", In::English, L"no-esc", {IDS_NO_ESC, true, nullptr, {}, false}, false},
    {"start-foreign-esc", In::EnglishAndGerman, L"foreign-esc",
     {IDS_INCOMPATIBLE_STATUS, true, nullptr, {}, false}, true},
    {"start-silent", In::English, L"silent", NO_UNIT_AT_START, false},
};

Box IncompatibleBox() {
    return {IDS_INCOMPATIBLE_CAPTION, Fill(Text(IDS_INCOMPATIBLE_ESC), {MODEL_NAME}), {IDOK}};
}

void RunStart(const StartCase& test) {
    Program program;
    if (Start(program, simExe, test.scenario)) {
        if (test.incompatibleBox) {
            HWND box = ExpectBox(program, IncompatibleBox(), "at start");
            if (box != nullptr && IsWindowVisible(program.main)) {
                Fail("the main window was shown before the incompatible-ESC box was answered");
            }
            Answer(box, IDOK);
        }
        ExpectScreen(program, test.expected, "at start");
        ExpectNoBox(program, "at start");
        CloseProgram(program);
    }
    Release(program);
}

// ---- device changes while the program runs

struct DeviceCase {
    const char* name;
    In languages;
    const wchar_t* scenario;    // at start
    std::uint32_t command;      // sent to the simulated bus
    const wchar_t* argument;
    bool incompatibleBox;       // the arrival raises the foreign-ESC box
    Expected before;
    Expected after;
};

const DeviceCase deviceCases[] = {
    // The label keeps the name of the unit that was lost.
    {"unplug-ready", In::English, L"ready", SIM_UNPLUG, L"", false, READY,
     {IDS_CONNECTION_LOST, true, L"TUNE-BOX", {}, false}},
    {"arrival-ready", In::English, L"none", SIM_PLUG_SCENARIO, L"ready", false, NO_UNIT_AT_START, READY},
    {"arrival-foreign-esc", In::EnglishAndGerman, L"none", SIM_PLUG_SCENARIO, L"foreign-esc", true,
     NO_UNIT_AT_START, {IDS_INCOMPATIBLE_STATUS, true, nullptr, {}, false}},
    {"arrival-wrong-mode", In::English, L"none", SIM_PLUG_SCENARIO, L"wrong-mode", false,
     NO_UNIT_AT_START, {IDS_WRONG_MODE, true, nullptr, {}, false}},
    // A second unit while one is open changes nothing.
    {"arrival-second-unit", In::English, L"ready", SIM_PLUG_SCENARIO, L"puck", false, READY, READY},
};

void RunDevice(const DeviceCase& test) {
    Program program;
    if (Start(program, simExe, test.scenario) && ExpectScreen(program, test.before, "at start")) {
        SimCommand command(program, test.command, test.argument);
        if (!command.Started()) {
            Fail("no simulated-bus control window found");
        } else if (test.incompatibleBox) {
            HWND box = ExpectBox(program, IncompatibleBox(), "after the arrival");
            // The box comes first: the status still shows what it showed before.
            ExpectText("status while the box is shown", ControlText(program.main, IDC_STATUS),
                       Build(test.before).items.back().second);
            Answer(box, IDOK);
        }
        if (command.Started() && !command.Wait(STATE_TIMEOUT_MS)) {
            Fail("the simulated bus did not carry out the command");
        }
        ExpectScreen(program, test.after, "after the device change");
        ExpectNoBox(program, "after the device change");
        CloseProgram(program);
    }
    Release(program);
}

// An arrival whose identification waits on a silent unit: each read waits out its bound,
// and all the while the window must answer at once and never be taken for hung.
void RunSilentArrival() {
    Program program;
    if (Start(program, simExe, L"none") && ExpectScreen(program, NO_UNIT_AT_START, "at start")) {
        // The command returns once the dialog has handled the arrival, identification
        // included: while it is pending, the dialog is inside that identification.
        SimCommand plug(program, SIM_PLUG_SCENARIO, L"silent");
        int answered = 0;
        bool stuck = false;
        if (!plug.Started()) {
            Fail("no simulated-bus control window found");
        } else if (!WaitFor(
                       [&] {
                           if (plug.Finished()) {
                               return true;
                           }
                           bool ok = false;
                           const std::wstring title = WindowText(program.main, &ok);
                           if (!ok || IsHungAppWindow(program.main)) {
                               stuck = true;
                               return true;
                           }
                           ExpectText("title during the identification", title, TITLE);
                           ++answered;
                           return false;
                       },
                       60000)) {
            Fail("the identification of the silent unit did not end");
        }
        if (stuck) {
            Fail("the window did not answer while the silent unit was being identified (" +
                 std::to_string(answered) + " answers before)");
        } else if (answered < 3) {
            // The read alone waits 10 s: answers after the first one fell inside it.
            Fail("only " + std::to_string(answered) + " answers while the silent unit was identified");
        }
        if (plug.Started() && !plug.Wait(STATE_TIMEOUT_MS)) {
            Fail("the simulated bus did not carry out the arrival");
        }
        // An arrival that brings no usable unit says nothing.
        ExpectScreen(program, NO_UNIT_AT_START, "after the silent unit's arrival");
        ExpectNoBox(program, "after the silent unit's arrival");
        CloseProgram(program);
    }
    Release(program);
}

// ---- updates through the window

enum class Outcome { Unchanged, Success, Failure };

// What else happens around an update, from outside.
enum class Meanwhile {
    Nothing,
    // A second copy of the program is started before Update (the first one minimised):
    // it must end by itself with exit code 0 and bring the first one back.
    SecondCopy,
    // While the confirmation is open the unit is unplugged and another one plugged in,
    // which is opened but fails its identification (scenario "esc-boot-error").
    SwapWhileAsking,
    // Once the bar has moved, the driver unplugs the unit through the simulated bus.
    UnplugInTransfer,
    // Once the bar has moved, a real click on Close, Escape and Alt+F4: the program ends
    // with a real click on Close afterwards, to show such a click does reach it.
    InputInTransfer,
};

struct UpdateCase {
    const char* name;
    In languages;
    const wchar_t* scenario;
    int confirmation;       // the answer to the confirmation: IDOK or IDCANCEL
    int versionQuestion;    // 0: none may come; else the answer, IDYES or IDNO
    Meanwhile meanwhile;
    Outcome outcome;
    int failureText;
    const wchar_t* code;         // the code line's two numbers; null: no code line
    const wchar_t* systemError;  // ANY_SYSTEM_ERROR where the simulated unit leaves it alone
    Expected whileBoxShows;      // the screen while the failure box is open
};

// The failure report closes the unit and empties the version lines before its box; the
// status changes only once the box is answered.
const Expected FAILURE_BOX_OPEN = {IDS_READY, false, L"TUNE-BOX", {}, false};
// The label keeps the name of the unit that was lost.
const Expected CONNECTION_LOST = {IDS_CONNECTION_LOST, true, L"TUNE-BOX", {}, false};

const UpdateCase updateCases[] = {
    {"update-success", In::English, L"ready", IDOK, 0, Meanwhile::Nothing, Outcome::Success, 0, nullptr,
     nullptr, {}},
    {"update-cancelled", In::English, L"ready", IDCANCEL, 0, Meanwhile::Nothing, Outcome::Unchanged, 0,
     nullptr, nullptr, {}},
    {"update-newer-declined", In::English, L"newer", IDOK, IDNO, Meanwhile::Nothing, Outcome::Unchanged, 0,
     nullptr, nullptr, {}},
    // The refusals come as replies: the system error is whatever the platform last left.
    {"update-lock-refused", In::EnglishAndGerman, L"lock-refused", IDOK, 0, Meanwhile::Nothing,
     Outcome::Failure, IDS_LOCK_FAILED, L"0000065b", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    {"update-erase-fails", In::English, L"erase-fails", IDOK, 0, Meanwhile::Nothing, Outcome::Failure,
     IDS_ERASE_FAILED, L"00000102", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    {"update-block-fails", In::English, L"block-fails", IDOK, 0, Meanwhile::Nothing, Outcome::Failure,
     IDS_BLOCK_FAILED, L"00000105", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    // The unit drops off the bus in the middle of a block write: the write fails with
    // ERROR_DEVICE_NOT_CONNECTED.
    {"update-unplug-during-transfer", In::English, L"unplug-during-transfer", IDOK, 0, Meanwhile::Nothing,
     Outcome::Failure, IDS_BLOCK_FAILED, L"fffffffe", L"0000048f", FAILURE_BOX_OPEN},
    // A removal that reaches the window during the transfer waits for the update's end;
    // the unit gone, the next block's write fails as above. The removal, handled after
    // the box, finds no unit open and changes nothing.
    {"update-unplugged-by-user", In::English, L"ready", IDOK, 0, Meanwhile::UnplugInTransfer,
     Outcome::Failure, IDS_BLOCK_FAILED, L"fffffffe", L"0000048f", FAILURE_BOX_OPEN},
    // Only the unit confirmed is written to: with another one open by the answer, nothing
    // is sent and the update fails as for a removed unit, without a code line.
    {"update-swap-during-confirmation", In::EnglishAndGerman, L"ready", IDOK, 0, Meanwhile::SwapWhileAsking,
     Outcome::Failure, IDS_LOCK_FAILED, nullptr, nullptr, CONNECTION_LOST},
    // The main window takes no input during the transfer, and what was made meanwhile is
    // thrown away: neither closes the program nor touches the result.
    {"update-click-close-during-transfer", In::English, L"ready", IDOK, 0, Meanwhile::InputInTransfer,
     Outcome::Success, 0, nullptr, nullptr, {}},
    {"second-instance", In::English, L"ready", IDOK, 0, Meanwhile::SecondCopy, Outcome::Success, 0, nullptr,
     nullptr, {}},
};

// Checks the progress window while it is open: caption, owner, size, centred on the main
// window.
void CheckProgress(const Program& program, HWND progress) {
    ExpectText("progress window caption", WindowText(progress), Text(IDS_PROGRESS_CAPTION));
    if (GetWindow(progress, GW_OWNER) != program.main) {
        Fail("the progress window is not owned by the main window");
    }
    RECT main{};
    RECT bar{};
    GetWindowRect(program.main, &main);
    GetWindowRect(progress, &bar);
    const long x = main.left + ((main.right - main.left) >> 1) - 200;
    const long y = main.top + ((main.bottom - main.top) >> 1) - 25;
    if (bar.left != x || bar.top != y || bar.right - bar.left != 400 || bar.bottom - bar.top != 50) {
        Fail("progress window at " + std::to_string(bar.left) + "," + std::to_string(bar.top) + " size " +
             std::to_string(bar.right - bar.left) + "x" + std::to_string(bar.bottom - bar.top) +
             ", expected " + std::to_string(x) + "," + std::to_string(y) + " size 400x50");
    }
}

// A second start while the program runs: it must leave at once, by itself, with exit code
// 0, and bring the running copy's window back.
void StartSecondCopy(const Program& program) {
    ShowWindowAsync(program.main, SW_MINIMIZE);
    if (!WaitFor([&] { return IsIconic(program.main) != FALSE; }, STATE_TIMEOUT_MS)) {
        Fail("the main window could not be minimised");
    }
    Program second;
    if (!Launch(second, simExe, L"ready", Desktop())) {
        Fail("could not start a second copy (error " + std::to_string(GetLastError()) + ")");
        return;
    }
    DWORD code = 0;
    if (!WaitExit(second, 20000, code)) {
        Fail("the second copy did not end by itself within 20 s");
    } else if (code != 0) {
        Fail("the second copy ended with exit code " + std::to_string(code) + ", expected 0");
    }
    Release(second);
    if (!WaitFor([&] { return !IsIconic(program.main) && GetForegroundWindow() == program.main; },
                 STATE_TIMEOUT_MS)) {
        Fail(std::string("the second start did not bring the running window to the front (") +
             (IsIconic(program.main) ? "still minimised" : "not the foreground window") + ")");
    }
}

// While the confirmation is open: the unit asked about goes, another one comes that is
// opened but fails its identification. The status says the connection was lost and stays so.
void SwapUnits(const Program& program) {
    {
        SimCommand unplug(program, SIM_UNPLUG, L"");
        if (!unplug.Wait(STATE_TIMEOUT_MS)) {
            Fail("the simulated bus did not unplug the unit");
        }
    }
    ExpectScreen(program, CONNECTION_LOST, "after the unplug, the confirmation open");
    SimCommand plug(program, SIM_PLUG_SCENARIO, L"esc-boot-error");
    if (!plug.Wait(STATE_TIMEOUT_MS)) {
        Fail("the simulated bus did not plug the other unit");
    }
    // The command returns once the arrival was handled: an identification that failed
    // says nothing.
    ExpectScreen(program, CONNECTION_LOST, "after the other unit's arrival, the confirmation open");
}

// After a swap, the unit held at the answer must have been given up: its removal says
// nothing, and a ready unit plugged in then is taken up.
void ExpectSwappedUnitGivenUp(const Program& program) {
    const Expected failed = {IDS_UPDATE_FAILED, false, L"TUNE-BOX", {}, false};
    {
        SimCommand unplug(program, SIM_UNPLUG, L"");
        if (!unplug.Wait(STATE_TIMEOUT_MS)) {
            Fail("the simulated bus did not unplug the other unit");
        }
    }
    ExpectScreen(program, failed, "after the other unit's removal");
    SimCommand plug(program, SIM_PLUG_SCENARIO, L"ready");
    if (!plug.Wait(STATE_TIMEOUT_MS)) {
        Fail("the simulated bus did not plug a ready unit");
    }
    ExpectScreen(program, READY, "after a ready unit's arrival");
}

// A real click on Close and the keys that close a window, made while the transfer runs.
void InterfereWithInput(const Program& program, HWND progress) {
    // Keys go to the foreground window; they must be aimed at the program to mean anything.
    const HWND foreground = GetForegroundWindow();
    if (foreground != program.main && foreground != progress) {
        Fail("neither the main nor the progress window has the foreground during the transfer");
    }
    if (!ClickControl(program.main, IDCANCEL)) {
        Fail("could not click Close");
    }
    if (!PressKeys({VK_ESCAPE}) || !PressKeys({VK_MENU, VK_F4})) {
        Fail("could not press Escape and Alt+F4");
    }
}

void RunUpdate(const UpdateCase& test) {
    Program program;
    if (!Start(program, simExe, test.scenario)) {
        Release(program);
        return;
    }
    if (test.meanwhile == Meanwhile::SecondCopy) {
        ExpectScreen(program, READY, "at start");
        StartSecondCopy(program);
        ExpectScreen(program, READY, "after the second start");
    }
    const Screen before = Read(program.main);
    if (!ControlEnabled(program.main, IDC_UPDATE)) {
        Fail("Update is not enabled at start");
    }
    PressButton(program.main, IDC_UPDATE);
    HWND box = ExpectBox(program, {IDS_CONFIRM_CAPTION, Text(IDS_CONFIRM_TEXT), {IDOK, IDCANCEL}},
                         "after Update");
    if (test.meanwhile == Meanwhile::SwapWhileAsking && box != nullptr) {
        SwapUnits(program);
    }
    Answer(box, test.confirmation);
    if (test.versionQuestion != 0) {
        box = ExpectBox(program, {IDS_NEWER_FIRMWARE_CAPTION, Text(IDS_OLDER_FIRMWARE), {IDYES, IDNO}},
                        "after the confirmation");
        Answer(box, test.versionQuestion);
    }

    if (test.outcome == Outcome::Unchanged) {
        Sleep(500);  // room for a wrong reaction to show
        ExpectNoBox(program, "after the answer");
        if (FindProgressWindow(program) != nullptr) {
            Fail("a progress window opened although the update was not confirmed");
        }
        if (Read(program.main) != before) {
            Fail("the main window changed although the update was not confirmed");
        }
        CloseProgram(program);
        Release(program);
        return;
    }

    // The failures before the transfer never open the progress window; the others must.
    const bool transfer = test.outcome == Outcome::Success || test.failureText == IDS_BLOCK_FAILED;
    HWND progress = nullptr;
    if (transfer) {
        if (!WaitFor([&] { return (progress = FindProgressWindow(program)) != nullptr; }, START_TIMEOUT_MS)) {
            Fail("no progress window appeared");
        } else {
            CheckProgress(program, progress);
            // The bar is read while the program waits between blocks: it must only rise,
            // and in a whole transfer reach the last tenth.
            int first = -1;
            int last = -1;
            bool acted = false;  // what the case does once the bar has moved
            std::unique_ptr<SimCommand> unplug;
            if (!WaitFor(
                    [&] {
                        const int position = IsWindow(progress) ? ProgressPosition(progress) : -1;
                        if (position >= 0) {
                            if (position < last || position > 100) {
                                Fail("the progress bar went from " + std::to_string(last) + " to " +
                                     std::to_string(position));
                            }
                            first = first < 0 ? position : first;
                            last = position;
                        }
                        if (!acted && position >= 5) {
                            acted = true;
                            if (IsWindowEnabled(program.main)) {
                                Fail("the main window is enabled during the transfer");
                            }
                            if (test.meanwhile == Meanwhile::UnplugInTransfer) {
                                unplug = std::make_unique<SimCommand>(program, SIM_UNPLUG, L"");
                            } else if (test.meanwhile == Meanwhile::InputInTransfer) {
                                InterfereWithInput(program, progress);
                            }
                        }
                        return !IsWindow(progress);
                    },
                    UPDATE_TIMEOUT_MS)) {
                Fail("the progress window did not close");
            }
            if (test.meanwhile == Meanwhile::UnplugInTransfer &&
                (unplug == nullptr || !unplug->Wait(STATE_TIMEOUT_MS))) {
                Fail("the unplug during the transfer was not carried out");
            }
            if (test.meanwhile == Meanwhile::InputInTransfer && !acted) {
                Fail("the transfer ended before the input was made");
            }
            if (first < 0 || last <= first || (test.outcome == Outcome::Success && last < 90)) {
                Fail("the progress bar was seen at " + std::to_string(first) + " and last at " +
                     std::to_string(last));
            }
        }
    }

    if (test.outcome == Outcome::Success) {
        ExpectScreen(program, {IDS_UPDATE_SUCCEEDED, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"3.3"}, false},
                     "after the update");
        ExpectNoBox(program, "after the update");
    } else {
        box = ExpectBox(program,
                        {IDS_UPDATE_FAILED_CAPTION, FailureText(test.failureText, test.code, test.systemError),
                         {IDOK}},
                        "after the failure");
        if (FindProgressWindow(program) != nullptr) {
            Fail("the progress window is still open while the failure box shows");
        }
        ExpectScreen(program, test.whileBoxShows, "while the failure box shows");
        Answer(box, IDOK);
        ExpectScreen(program, {IDS_UPDATE_FAILED, false, L"TUNE-BOX", {}, false}, "after the failure");
        ExpectNoBox(program, "after the failure");
        if (test.meanwhile == Meanwhile::SwapWhileAsking) {
            ExpectSwappedUnitGivenUp(program);
        }
    }
    CloseProgram(program,
                 test.meanwhile == Meanwhile::InputInTransfer ? CloseBy::RealClick : CloseBy::Message);
    Release(program);
}

// ---- the ESC swapped behind the unit, which makes no USB event

// "esc-swapped": the unit is ready at start; when Update is pressed a foreign ESC is
// behind it. The dialog says it changed, shows it as an arrival would, asks nothing.
void RunEscSwappedBeforeUpdate() {
    Program program;
    if (Start(program, simExe, L"esc-swapped") && ExpectScreen(program, READY, "at start")) {
        PressButton(program.main, IDC_UPDATE);
        HWND box = ExpectBox(program, {IDS_ESC_CHANGED_CAPTION, Text(IDS_ESC_CHANGED), {IDOK}}, "after Update");
        Answer(box, IDOK);
        box = ExpectBox(program, IncompatibleBox(), "after the change was told");
        Answer(box, IDOK);
        ExpectScreen(program, {IDS_INCOMPATIBLE_STATUS, true, L"TUNE-BOX", {}, false}, "after the boxes");
        ExpectNoBox(program, "after the boxes");
        if (FindProgressWindow(program) != nullptr) {
            Fail("a progress window opened for a changed ESC");
        }
        CloseProgram(program);
    }
    Release(program);
}

// The ESC swapped while the confirmation is open (the simulated bus's swap command): the
// sequence's first step finds it and the lock step fails with the reason, nothing written.
void RunEscSwappedDuringConfirmation() {
    Program program;
    if (Start(program, simExe, L"ready") && ExpectScreen(program, READY, "at start")) {
        PressButton(program.main, IDC_UPDATE);
        HWND box = ExpectBox(program, {IDS_CONFIRM_CAPTION, Text(IDS_CONFIRM_TEXT), {IDOK, IDCANCEL}}, "after Update");
        {
            SimCommand swap(program, SIM_SWAP_ESC, L"foreign-esc");
            if (!swap.Wait(STATE_TIMEOUT_MS)) {
                Fail("the simulated bus did not swap the ESC");
            }
        }
        ExpectScreen(program, READY, "after the swap, the confirmation open: no USB event");
        Answer(box, IDOK);
        box = ExpectBox(program,
                        {IDS_UPDATE_FAILED_CAPTION, Text(IDS_LOCK_FAILED) + L"\r\n" + Text(IDS_ESC_CHANGED), {IDOK}},
                        "after the confirmation");
        if (FindProgressWindow(program) != nullptr) {
            Fail("a progress window opened for a changed ESC");
        }
        Answer(box, IDOK);
        ExpectScreen(program, {IDS_UPDATE_FAILED, false, L"TUNE-BOX", {}, false}, "after the failure");
        CloseProgram(program);
    }
    Release(program);
}

// ---- the product: Wine has no programming unit

// The product's title: a build without the firmware release is a development build.
std::wstring ProductTitle() {
    return releaseFirmware ? TITLE : DEVELOPMENT_TITLE;
}

void RunProduct() {
    Program program;
    // The product must not listen to the simulated build's variable.
    if (Start(program, productExe, L"ready")) {
        ExpectScreen(program, NO_UNIT_AT_START, "at start", ProductTitle());
        if (FindSimControl(program) != nullptr) {
            Fail("the product has a simulated-bus control window");
        }
        CloseProgram(program);
    }
    Release(program);
}

// A development build's product refuses the update before anything else, unit or not:
// Update is disabled without a unit, so its command is sent as the button would send it.
// Returns false when the programs carry the firmware release and the case does not apply.
bool RunProductDevelopmentBuild() {
    if (releaseFirmware) {
        return false;
    }
    Program program;
    if (Start(program, productExe, nullptr) &&
        ExpectScreen(program, NO_UNIT_AT_START, "at start", DEVELOPMENT_TITLE)) {
        PostMessageW(program.main, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(program.main, IDC_UPDATE)));
        // The caption in the user's language; the refusal is the program's own English text.
        HWND box = ExpectBox(program, {IDS_UPDATE_FAILED_CAPTION, DEVELOPMENT_BUILD_REFUSAL, {IDOK}},
                             "after the Update command");
        Answer(box, IDOK);
        ExpectScreen(program, NO_UNIT_AT_START, "after the refusal", DEVELOPMENT_TITLE);
        ExpectNoBox(program, "after the refusal");
        CloseProgram(program);
    }
    Release(program);
    return true;
}

// ---- the case list

// The time ctest gives a case. One that runs a whole update has about 46 s of fixed
// waits, several times that under Wine on a busy machine.
constexpr int CASE_TIMEOUT_S = 120;
constexpr int WHOLE_UPDATE_CASE_TIMEOUT_S = 300;
// The exit code of a case that does not apply to this build (ctest's SKIP_RETURN_CODE).
constexpr int NOT_APPLICABLE_EXIT_CODE = 77;

struct Case {
    const char* name;
    In languages;
    bool wholeUpdate;           // runs a whole update
    std::function<bool()> run;  // false: the case does not apply to this build
};

// Every case, in the order ctest runs them.
std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const StartCase& test : startCases) {
        cases.push_back({test.name, test.languages, false, [&test] { return RunStart(test), true; }});
    }
    for (const DeviceCase& test : deviceCases) {
        cases.push_back({test.name, test.languages, false, [&test] { return RunDevice(test), true; }});
    }
    cases.push_back({"silent-arrival-stays-responsive", In::English, false,
                     [] { return RunSilentArrival(), true; }});
    for (const UpdateCase& test : updateCases) {
        cases.push_back({test.name, test.languages, test.outcome == Outcome::Success,
                         [&test] { return RunUpdate(test), true; }});
    }
    cases.push_back({"update-esc-swapped-before-update", In::EnglishAndGerman, false,
                     [] { return RunEscSwappedBeforeUpdate(), true; }});
    cases.push_back({"update-esc-swapped-during-confirmation", In::EnglishAndGerman, false,
                     [] { return RunEscSwappedDuringConfirmation(), true; }});
    cases.push_back({"product", In::EnglishAndGerman, false, [] { return RunProduct(), true; }});
    cases.push_back({"product-development-build", In::EnglishAndGerman, false, RunProductDevelopmentBuild});
    return cases;
}

void ListCases() {
    for (const Case& test : Cases()) {
        Say(std::string(test.name) + (test.languages == In::EnglishAndGerman ? " en,de " : " en ") +
            std::to_string(test.wholeUpdate ? WHOLE_UPDATE_CASE_TIMEOUT_S : CASE_TIMEOUT_S) + " " +
            std::to_string(NOT_APPLICABLE_EXIT_CODE));
    }
}

enum class Ran { Yes, NotApplicable, NoSuchCase };

Ran RunCase(const std::string& name) {
    for (const Case& test : Cases()) {
        if (name == test.name) {
            return test.run() ? Ran::Yes : Ran::NotApplicable;
        }
    }
    return Ran::NoSuchCase;
}

}  // namespace

int main(int argc, char** argv) {
    UseBinaryOutput();
    const CommandLine line = ReadCommandLine(argc, argv, {"--sim", "--product", "--lang", "--desktop"});
    std::string caseName;
    for (const std::string& word : line.words) {
        if (word == "--release-firmware") releaseFirmware = true;
        else if (word == "--list") {
            ListCases();
            return 0;
        } else caseName = word;
    }
    simExe = WindowsPath(line.Value("--sim"));
    productExe = WindowsPath(line.Value("--product"));
    const std::string lang = line.Value("--lang");

    const bool german = UseUserLanguage();
    UseDesktop(line.Value("--desktop", DESKTOP));
    if (!lang.empty() && lang != (german ? "de" : "en")) {
        Say("FAILED: the user interface language is not \"" + lang + "\": LC_ALL did not reach Wine");
        return 1;
    }
    const Ran ran = simExe.empty() || productExe.empty() ? Ran::NoSuchCase : RunCase(caseName);
    if (ran == Ran::NoSuchCase) {
        Say("usage: e2e_driver --sim EXE --product EXE [--lang en|de] [--release-firmware] CASE "
            "(--list names them)");
        return 2;
    }
    if (ran == Ran::NotApplicable) {
        Say("SKIPPED " + caseName + ": not for a build with the firmware release");
        return NOT_APPLICABLE_EXIT_CODE;
    }
    const int failures = Failures();
    Say(failures == 0 ? "PASSED " + caseName : std::to_string(failures) + " check(s) failed in " + caseName);
    return failures == 0 ? 0 : 1;
}
