// The demo: one whole update of the simulated unit through the window, told as it happens.
//
//   demo_driver --sim EXE [--shots DIR] [--desktop NAME]
//       prints each status text and message box; with --shots it prints
//       "SHOT name x y w h" and waits until DIR/name.png exists before going on.
//   --desktop NAME: the virtual desktop to run on ("" for the driver's own);
//       coordinates in SHOT lines are those of the desktop.
// ORVANTA_SIM picks the simulated unit, LC_ALL the language, as for the program itself.
#include <cstdlib>
#include <cstring>
#include <string>

#include "res/resource.h"
#include "sim/sim_control.h"
#include "tests/e2e/expect.h"
#include "tests/e2e/window_driver.h"

namespace {

std::wstring simExe;
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
    if (!Launch(program, simExe, _wgetenv(SIM_SCENARIO_VARIABLE), Desktop())) {
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

}  // namespace

int main(int argc, char** argv) {
    UseBinaryOutput();
    const CommandLine line = ReadCommandLine(argc, argv, {"--sim", "--shots", "--desktop"});
    if (!line.words.empty()) {
        Say("usage: demo_driver --sim EXE [--shots DIR] [--desktop NAME]");
        return 2;
    }
    simExe = WindowsPath(line.Value("--sim"));
    shotDir = WindowsPath(line.Value("--shots"));
    UseUserLanguage();
    UseDesktop(line.Value("--desktop", DESKTOP));
    return RunDemo();
}
