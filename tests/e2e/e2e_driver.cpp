// End-to-end cases: the real programs under Wine, driven through their windows.
//
//   e2e_driver --sim EXE --product EXE --lang en|de CASE   runs one case; exit 0 = passed
//   e2e_driver --list                                       names every case
//   e2e_driver --sim EXE --demo [--shots DIR]
//       one whole update, printing each status text; with --shots it prints
//       "SHOT name x y w h" and waits until DIR/name.png exists before going on.
//   --desktop NAME: the virtual desktop to run on ("" for the driver's own);
//       coordinates in SHOT lines are those of the desktop.
//   --release-firmware: the programs were built with the firmware release, so the
//       product is no development build.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "res/catalogue.h"
#include "res/resource.h"
#include "sim/sim_control.h"
#include "tests/e2e/window_driver.h"
#include "update/firmware_update.h"

namespace {

// The simulated build may update its unit and has the release title; the product of a
// build without the firmware release says in its title that it is a development build.
constexpr wchar_t TITLE[] = L"QUORVEX ORVANTA 90 FW Updater 3.3 ";
constexpr wchar_t DEVELOPMENT_TITLE[] = L"QUORVEX ORVANTA 90 FW Updater 3.3 - development build, no firmware";
constexpr wchar_t MODEL_NAME[] = L"ORVANTA 90";
constexpr wchar_t NO_UNIT_VERSION[] = L"0.0.0";
constexpr DWORD START_TIMEOUT_MS = 30000;
constexpr DWORD STATE_TIMEOUT_MS = 15000;
// Erase wait, 2037 blocks of 20 ms and Wine's own pace, with room to spare.
constexpr DWORD UPDATE_TIMEOUT_MS = 180000;

CatalogueLanguage language = CatalogueLanguage::English;
bool releaseFirmware = false;  // --release-firmware: the programs carry the firmware release
int failures = 0;

void Say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Fail(const std::string& what) {
    ++failures;
    Say("FAILED: " + what);
}

std::wstring Text(int id) {
    const wchar_t* text = CatalogueText(static_cast<std::uint16_t>(id), language);
    return text == nullptr ? L"<no text " + std::to_wstring(id) + L">" : text;
}

std::wstring WithHint(int id) {
    return Text(id) + L"\r\n\r\n" + Text(IDS_HINT);
}

// The catalogue's format with each %s and %08x filled in turn.
std::wstring Fill(const std::wstring& format, const std::vector<std::wstring>& values) {
    std::wstring result;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        std::size_t length = 0;
        for (const wchar_t* directive : {L"%s", L"%08x"}) {
            if (format.compare(i, wcslen(directive), directive) == 0) {
                length = wcslen(directive);
            }
        }
        if (length != 0 && next < values.size()) {
            result += values[next++];
            i += length;
        } else {
            result += format[i++];
        }
    }
    return result;
}

// A failure box's text: the step's text and, unless the code was -1, the code line.
std::wstring FailureText(int textId, const wchar_t* code, const wchar_t* systemError) {
    if (code == nullptr) {
        return Text(textId);
    }
    return Text(textId) + L"\r\n" + Fill(Text(IDS_ERROR_CODE_LINE), {code, systemError});
}

// Stands in an expected text for one hexadecimal digit of any value.
constexpr wchar_t ANY_HEX_DIGIT = L'\x1';
constexpr wchar_t ANY_SYSTEM_ERROR[] = L"\x1\x1\x1\x1\x1\x1\x1\x1";

bool Matches(const std::wstring& actual, const std::wstring& expected) {
    return actual.size() == expected.size() &&
           std::equal(actual.begin(), actual.end(), expected.begin(), [](wchar_t a, wchar_t e) {
               return a == e || (e == ANY_HEX_DIGIT && std::iswxdigit(a) && !std::iswupper(a));
           });
}

void ExpectText(const char* what, const std::wstring& actual, const std::wstring& expected) {
    if (!Matches(actual, expected)) {
        Fail(std::string(what) + ": expected " + Escaped(expected) + ", got " + Escaped(actual));
    }
}

// ---- what the main window shows

constexpr int VERSION_FIELDS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION};
constexpr int VERSION_LINE_CONTROLS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION,
                                         IDC_UNIT_LABEL, IDC_BOOTLOADER_LABEL, IDC_ESC_LABEL};

struct Screen {
    std::vector<std::pair<std::string, std::wstring>> items;  // name, shown value

    bool operator==(const Screen& other) const { return items == other.items; }
};

std::wstring Flag(bool on) {
    return on ? L"enabled" : L"disabled";
}

Screen Read(HWND main) {
    Screen screen;
    screen.items.emplace_back("title", WindowText(main));
    screen.items.emplace_back("label 40010", ControlText(main, IDC_UNIT_LABEL));
    screen.items.emplace_back("label 1005", ControlText(main, IDC_BOOTLOADER_LABEL));
    screen.items.emplace_back("label 40011", ControlText(main, IDC_ESC_LABEL));
    for (int id : VERSION_FIELDS) {
        screen.items.emplace_back("field " + std::to_string(id), ControlText(main, id));
    }
    for (int id : VERSION_LINE_CONTROLS) {
        screen.items.emplace_back("control " + std::to_string(id), Flag(ControlEnabled(main, id)));
    }
    screen.items.emplace_back("Update", Flag(ControlEnabled(main, IDC_UPDATE)));
    screen.items.emplace_back("status", ControlText(main, IDC_STATUS));
    return screen;
}

// What a state of the main window must show.
struct Expected {
    int status;
    bool hint;                  // the status text is followed by the connection hint
    const wchar_t* unitLabel;   // null: message 40039
    const wchar_t* versions[3]; // unit, bootloader, ESC; null: the no-unit state
    bool update;                // Update enabled
};

Screen Build(const Expected& expected, const std::wstring& title = TITLE) {
    const bool unit = expected.versions[0] != nullptr;
    Screen screen;
    screen.items.emplace_back("title", title);
    screen.items.emplace_back("label 40010",
                              expected.unitLabel != nullptr ? expected.unitLabel : Text(IDS_UNIT_LABEL));
    screen.items.emplace_back("label 1005", Text(IDS_BOOTLOADER_LABEL));
    screen.items.emplace_back("label 40011", Text(IDS_ESC_LABEL));
    for (int i = 0; i < 3; ++i) {
        screen.items.emplace_back("field " + std::to_string(VERSION_FIELDS[i]),
                                  unit ? expected.versions[i] : NO_UNIT_VERSION);
    }
    for (int id : VERSION_LINE_CONTROLS) {
        screen.items.emplace_back("control " + std::to_string(id), Flag(unit));
    }
    screen.items.emplace_back("Update", Flag(expected.update));
    screen.items.emplace_back("status", expected.hint ? WithHint(expected.status) : Text(expected.status));
    return screen;
}

// Waits until the main window shows the state; reports every difference if it never does.
bool ExpectScreen(const Program& program, const Expected& expected, const char* when,
                  const std::wstring& title = TITLE) {
    const Screen want = Build(expected, title);
    Screen seen;
    if (WaitFor([&] { return (seen = Read(program.main)) == want; }, STATE_TIMEOUT_MS)) {
        return true;
    }
    for (std::size_t i = 0; i < want.items.size(); ++i) {
        if (seen.items[i].second != want.items[i].second) {
            Fail(std::string(when) + ", " + want.items[i].first + ": expected " +
                 Escaped(want.items[i].second) + ", got " + Escaped(seen.items[i].second));
        }
    }
    return false;
}

const Expected NO_UNIT_AT_START = {IDS_NO_UNIT, true, nullptr, {}, false};
const Expected READY = {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"3.2"}, true};

// ---- starting, boxes, ending

std::wstring simExe;
std::wstring productExe;
// The virtual desktop the programs run on (null: the driver's own). Wine draws the
// window frames there itself, and windows close at once; on a bare X display without a
// window manager each closing window costs Wine a two-second wait.
const wchar_t* desktop = nullptr;

bool Start(Program& program, const std::wstring& exe, const wchar_t* scenario) {
    if (!Launch(program, exe, scenario, desktop)) {
        Fail("could not start " + Utf8(exe) + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    if (!WaitFor([&] { return (program.main = FindMainWindow(program)) != nullptr; }, START_TIMEOUT_MS)) {
        Fail("no main window within " + std::to_string(START_TIMEOUT_MS / 1000) + " s");
        return false;
    }
    return true;
}

// A message box the program must show now: caption, text and its set of buttons.
struct Box {
    int caption;
    std::wstring text;
    std::vector<int> buttons;  // exactly these of IDOK, IDCANCEL, IDYES, IDNO
};

HWND ExpectBox(const Program& program, const Box& box, const char* when) {
    HWND found = nullptr;
    if (!WaitFor([&] { return (found = FindMessageBox(program)) != nullptr; }, STATE_TIMEOUT_MS)) {
        Fail(std::string(when) + ": no message box appeared (expected " + Escaped(Text(box.caption)) + ")");
        return nullptr;
    }
    const std::string what = std::string(when) + ", box";
    ExpectText((what + " caption").c_str(), WindowText(found), Text(box.caption));
    ExpectText((what + " text").c_str(), MessageBoxText(found), box.text);
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        const bool wanted = std::find(box.buttons.begin(), box.buttons.end(), id) != box.buttons.end();
        if ((GetDlgItem(found, id) != nullptr) != wanted) {
            Fail(what + ": button " + std::to_string(id) + (wanted ? " missing" : " not expected"));
        }
    }
    return found;
}

void ExpectNoBox(const Program& program, const char* when) {
    if (HWND box = FindMessageBox(program)) {
        Fail(std::string(when) + ": unexpected message box " + Escaped(WindowText(box)) + " " +
             Escaped(MessageBoxText(box)));
        AnswerMessageBox(box, IDOK);
    }
}

bool Answer(HWND box, int id) {
    if (box == nullptr) {
        return false;
    }
    AnswerMessageBox(box, id);
    return WaitFor([&] { return !IsWindow(box); }, STATE_TIMEOUT_MS);
}

enum class CloseBy { Message, RealClick };

// Close, as the user ends the program: it must end with exit code 0.
void CloseProgram(Program& program, CloseBy how = CloseBy::Message) {
    if (!IsRunning(program)) {
        Fail("the program is no longer running");
        return;
    }
    const bool pressed = how == CloseBy::RealClick ? ClickControl(program.main, IDCANCEL)
                                                   : PressButton(program.main, IDCANCEL);
    if (!pressed) {
        Fail("could not press Close");
    }
    DWORD code = 0;
    if (!WaitExit(program, START_TIMEOUT_MS, code)) {
        Fail("Close did not end the program");
    } else if (code != 0) {
        Fail("exit code " + std::to_string(code) + ", expected 0");
    }
}

// ---- start-up: each scenario's first state

struct StartCase {
    const char* name;
    const wchar_t* scenario;
    Expected expected;
    bool incompatibleBox;  // the box for a foreign ESC comes before the window is shown
};

const StartCase startCases[] = {
    {"start-none", L"none", NO_UNIT_AT_START, false},
    {"start-ready", L"ready", READY, false},
    {"start-ready-alt", L"ready-alt", READY, false},
    {"start-puck", L"puck", {IDS_READY, false, L"TUNEPUCK", {L"2.3", L"1.0.5", L"3.2"}, true}, false},
    {"start-no-firmware", L"no-firmware",
     {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"----------"}, true}, false},
    {"start-newer", L"newer", {IDS_READY, false, L"TUNE-BOX", {L"2.3", L"1.0.5", L"3.3"}, true}, false},
    {"start-wrong-mode", L"wrong-mode", {IDS_WRONG_MODE, true, nullptr, {}, false}, false},
    {"start-no-esc", L"no-esc", {IDS_NO_ESC, true, nullptr, {}, false}, false},
    {"start-foreign-esc", L"foreign-esc", {IDS_INCOMPATIBLE_STATUS, true, nullptr, {}, false}, true},
    {"start-silent", L"silent", NO_UNIT_AT_START, false},
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
    const wchar_t* scenario;    // at start
    std::uint32_t command;      // sent to the simulated bus
    const wchar_t* argument;
    bool incompatibleBox;       // the arrival raises the foreign-ESC box
    Expected before;
    Expected after;
};

const DeviceCase deviceCases[] = {
    // The label keeps the name of the unit that was lost.
    {"unplug-ready", L"ready", SIM_UNPLUG, L"", false, READY,
     {IDS_CONNECTION_LOST, true, L"TUNE-BOX", {}, false}},
    {"arrival-ready", L"none", SIM_PLUG_SCENARIO, L"ready", false, NO_UNIT_AT_START, READY},
    {"arrival-foreign-esc", L"none", SIM_PLUG_SCENARIO, L"foreign-esc", true, NO_UNIT_AT_START,
     {IDS_INCOMPATIBLE_STATUS, true, nullptr, {}, false}},
    {"arrival-wrong-mode", L"none", SIM_PLUG_SCENARIO, L"wrong-mode", false, NO_UNIT_AT_START,
     {IDS_WRONG_MODE, true, nullptr, {}, false}},
    // A second unit while one is open changes nothing.
    {"arrival-second-unit", L"ready", SIM_PLUG_SCENARIO, L"puck", false, READY, READY},
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
    {"update-success", L"ready", IDOK, 0, Meanwhile::Nothing, Outcome::Success, 0, nullptr, nullptr, {}},
    {"update-cancelled", L"ready", IDCANCEL, 0, Meanwhile::Nothing, Outcome::Unchanged, 0, nullptr,
     nullptr, {}},
    {"update-newer-declined", L"newer", IDOK, IDNO, Meanwhile::Nothing, Outcome::Unchanged, 0, nullptr,
     nullptr, {}},
    // The refusals come as replies: the system error is whatever the platform last left.
    {"update-lock-refused", L"lock-refused", IDOK, 0, Meanwhile::Nothing, Outcome::Failure,
     IDS_LOCK_FAILED, L"0000065b", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    {"update-erase-fails", L"erase-fails", IDOK, 0, Meanwhile::Nothing, Outcome::Failure,
     IDS_ERASE_FAILED, L"00000102", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    {"update-block-fails", L"block-fails", IDOK, 0, Meanwhile::Nothing, Outcome::Failure,
     IDS_BLOCK_FAILED, L"00000105", ANY_SYSTEM_ERROR, FAILURE_BOX_OPEN},
    // The unit drops off the bus in the middle of a block write: the write fails with
    // ERROR_DEVICE_NOT_CONNECTED.
    {"update-unplug-during-transfer", L"unplug-during-transfer", IDOK, 0, Meanwhile::Nothing,
     Outcome::Failure, IDS_BLOCK_FAILED, L"fffffffe", L"0000048f", FAILURE_BOX_OPEN},
    // A removal that reaches the window during the transfer waits for the update's end;
    // the unit gone, the next block's write fails as above. The removal, handled after
    // the box, finds no unit open and changes nothing.
    {"update-unplugged-by-user", L"ready", IDOK, 0, Meanwhile::UnplugInTransfer, Outcome::Failure,
     IDS_BLOCK_FAILED, L"fffffffe", L"0000048f", FAILURE_BOX_OPEN},
    // Only the unit confirmed is written to: with another one open by the answer, nothing
    // is sent and the update fails as for a removed unit, without a code line.
    {"update-swap-during-confirmation", L"ready", IDOK, 0, Meanwhile::SwapWhileAsking, Outcome::Failure,
     IDS_LOCK_FAILED, nullptr, nullptr, CONNECTION_LOST},
    // The main window takes no input during the transfer, and what was made meanwhile is
    // thrown away: neither closes the program nor touches the result.
    {"update-click-close-during-transfer", L"ready", IDOK, 0, Meanwhile::InputInTransfer,
     Outcome::Success, 0, nullptr, nullptr, {}},
    {"second-instance", L"ready", IDOK, 0, Meanwhile::SecondCopy, Outcome::Success, 0, nullptr, nullptr,
     {}},
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
    if (!Launch(second, simExe, L"ready", desktop)) {
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

// ---- the demo: one whole update, told as it happens

std::wstring shotDir;

void Shot(const Program& program, const char* name, HWND extra = nullptr) {
    if (shotDir.empty()) {
        return;
    }
    RECT area{};
    GetWindowRect(program.main, &area);
    RECT other{};
    if (extra != nullptr && GetWindowRect(extra, &other)) {
        UnionRect(&area, &area, &other);
    }
    const std::wstring file = shotDir + L"\\" + std::wstring(name, name + strlen(name)) + L".png";
    DeleteFileW(file.c_str());
    Say("SHOT " + std::string(name) + " " + std::to_string(area.left) + " " + std::to_string(area.top) + " " +
        std::to_string(area.right - area.left) + " " + std::to_string(area.bottom - area.top));
    if (!WaitFor([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000)) {
        Say("(no screenshot " + std::string(name) + " was taken)");
    }
}

std::wstring lastStatus;

// Prints the status text whenever it has changed.
void TellStatus(const Program& program) {
    bool ok = false;
    const std::wstring status = ControlText(program.main, IDC_STATUS, &ok);
    if (!ok || status == lastStatus) {
        return;
    }
    lastStatus = status;
    std::string shown = "status: ";
    for (wchar_t c : status) {
        if (c == L'\n') {
            shown += "\n        ";
        } else if (c != L'\r') {
            shown += Utf8(std::wstring(1, c));
        }
    }
    Say(shown);
}

void TellBox(HWND box) {
    Say("message box \"" + Utf8(WindowText(box)) + "\": " + Utf8(MessageBoxText(box)));
}

// Sets up a virtual desktop of the given name and moves the driver onto it, so that it
// sees the windows of the programs it starts there.
const wchar_t* EnterDesktop(const std::wstring& name) {
    static std::wstring entered;
    const wchar_t size[] = L"1024x768";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", name.c_str(), REG_SZ, size,
                    sizeof size);
    HDESK handle = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (handle == nullptr || !SetThreadDesktop(handle)) {
        Say("(could not use desktop " + Utf8(name) + ", error " + std::to_string(GetLastError()) +
            "; staying on the default one)");
        return nullptr;
    }
    entered = name;
    return entered.c_str();
}

// The three version lines as the window shows them, the unit's name first.
void TellVersions(const Program& program) {
    Say(Utf8(ControlText(program.main, IDC_UNIT_LABEL)) + " " +
        Utf8(ControlText(program.main, IDC_UNIT_VERSION)) + ", " +
        Utf8(ControlText(program.main, IDC_BOOTLOADER_LABEL)) + " " +
        Utf8(ControlText(program.main, IDC_BOOTLOADER_VERSION)) + ", " +
        Utf8(ControlText(program.main, IDC_ESC_LABEL)) + " " +
        Utf8(ControlText(program.main, IDC_ESC_VERSION)));
}

int RunDemo() {
    Program program;
    if (!Launch(program, simExe, _wgetenv(SIM_SCENARIO_VARIABLE), desktop)) {
        Say("could not start the updater");
        return 1;
    }
    // A box raised at start keeps the window hidden until it is answered.
    WaitFor(
        [&] {
            if ((program.main = FindMainWindow(program)) == nullptr) {
                return false;
            }
            if (HWND box = FindMessageBox(program)) {
                TellBox(box);
                Answer(box, IDOK);
            }
            return IsWindowVisible(program.main) != FALSE;
        },
        START_TIMEOUT_MS);
    if (program.main == nullptr) {
        Say("the updater's window did not appear");
        Release(program);
        return 1;
    }
    Say("window: " + Utf8(WindowText(program.main)));
    Sleep(500);  // first paint
    TellStatus(program);
    TellVersions(program);
    Shot(program, "start");

    if (!ControlEnabled(program.main, IDC_UPDATE)) {
        Say("Update is disabled in this scenario; nothing to update.");
    } else {
        Say("pressing Update");
        PressButton(program.main, IDC_UPDATE);
        HWND progress = nullptr;
        int told = -10;  // the last position printed
        bool shotTaken = false;
        // Questions are answered to go on; the transfer is followed until a result shows.
        WaitFor(
            [&] {
                TellStatus(program);
                if (HWND box = FindMessageBox(program)) {
                    TellBox(box);
                    Shot(program,
                         GetDlgItem(box, IDCANCEL) != nullptr ? "confirm"
                         : GetDlgItem(box, IDYES) != nullptr  ? "question"
                                                              : "message",
                         box);
                    Answer(box, GetDlgItem(box, IDYES) != nullptr ? IDYES : IDOK);
                    return false;
                }
                if (progress == nullptr && (progress = FindProgressWindow(program)) != nullptr) {
                    Say("progress window: " + Utf8(WindowText(progress)));
                }
                if (progress != nullptr && IsWindow(progress)) {
                    const int position = ProgressPosition(progress);
                    if (position >= 0 && position / 10 != told / 10) {
                        told = position;
                        Say("  " + std::to_string(position) + " %");
                    }
                    if (!shotTaken && position >= 40) {
                        shotTaken = true;
                        Shot(program, "transfer", progress);
                    }
                    return false;
                }
                progress = nullptr;
                return !ControlEnabled(program.main, IDC_UPDATE) && lastStatus != Text(IDS_READY);
            },
            UPDATE_TIMEOUT_MS);
        Sleep(500);
        TellStatus(program);
        Shot(program, lastStatus == Text(IDS_UPDATE_SUCCEEDED) ? "success" : "result");
        TellVersions(program);
    }
    PressButton(program.main, IDCANCEL);
    DWORD code = 0;
    const bool ended = WaitExit(program, START_TIMEOUT_MS, code);
    Say(ended ? "the updater ended with exit code " + std::to_string(code) : "the updater did not end");
    Release(program);
    return ended && code == 0 ? 0 : 1;
}

// ---- the case list

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const StartCase& test : startCases) names.push_back(test.name);
    for (const DeviceCase& test : deviceCases) names.push_back(test.name);
    names.push_back("silent-arrival-stays-responsive");
    for (const UpdateCase& test : updateCases) names.push_back(test.name);
    names.push_back("product");
    names.push_back("product-development-build");
    return names;
}

enum class Ran { Yes, NotApplicable, NoSuchCase };

Ran RunCase(const std::string& name) {
    for (const StartCase& test : startCases) {
        if (name == test.name) return RunStart(test), Ran::Yes;
    }
    for (const DeviceCase& test : deviceCases) {
        if (name == test.name) return RunDevice(test), Ran::Yes;
    }
    if (name == "silent-arrival-stays-responsive") return RunSilentArrival(), Ran::Yes;
    for (const UpdateCase& test : updateCases) {
        if (name == test.name) return RunUpdate(test), Ran::Yes;
    }
    if (name == "product") return RunProduct(), Ran::Yes;
    if (name == "product-development-build") {
        return RunProductDevelopmentBuild() ? Ran::Yes : Ran::NotApplicable;
    }
    return Ran::NoSuchCase;
}

// The exit code of a case that does not apply to this build (ctest's SKIP_RETURN_CODE).
constexpr int NOT_APPLICABLE_EXIT_CODE = 77;

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes and bare line feeds
    std::string caseName;
    std::string lang;
    std::string desktopName = "OrvantaUpdater";
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "--sim" && more) simExe = WindowsPath(argv[++i]);
        else if (arg == "--product" && more) productExe = WindowsPath(argv[++i]);
        else if (arg == "--lang" && more) lang = argv[++i];
        else if (arg == "--shots" && more) shotDir = WindowsPath(argv[++i]);
        else if (arg == "--desktop" && more) desktopName = argv[++i];
        else if (arg == "--release-firmware") releaseFirmware = true;
        else if (arg == "--demo") demo = true;
        else if (arg == "--list") {
            for (const std::string& name : CaseNames()) Say(name);
            return 0;
        } else caseName = arg;
    }

    // The program picks its language as Wine derives it from LC_ALL; so does the driver.
    const bool german = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN;
    language = german ? CatalogueLanguage::German : CatalogueLanguage::English;
    if (!desktopName.empty()) {
        desktop = EnterDesktop(std::wstring(desktopName.begin(), desktopName.end()));
    }
    if (demo) {
        return RunDemo();
    }
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
    Say(failures == 0 ? "PASSED " + caseName : std::to_string(failures) + " check(s) failed in " + caseName);
    return failures == 0 ? 0 : 1;
}
