// Drives a running updater from outside, as a user (or a test harness) would: starts
// it, finds its windows, reads what they show, presses buttons, answers message boxes
// and plugs or unplugs the simulated unit. Everything goes through messages that
// cross process boundaries; nothing here waits on the program's modal loops.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// A program started by the driver, and what was found of it.
struct Program {
    PROCESS_INFORMATION process{};
    HWND main = nullptr;  // the main dialog, once found
};

// Starts exe with the driver's environment plus ORVANTA_SIM=scenario (left out when
// scenario is null). desktop null: the driver's own desktop.
bool Launch(Program& program, const std::wstring& exe, const wchar_t* scenario,
            const wchar_t* desktop = nullptr);
bool IsRunning(const Program& program);
// Waits for the process to end; false on timeout. exitCode receives its code.
bool WaitExit(const Program& program, DWORD timeoutMs, DWORD& exitCode);
// Ends the process if it still runs and closes its handles.
void Release(Program& program);

// Polls every 50 ms until condition holds; false after timeoutMs.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The program's top-level windows, hidden ones included.
std::vector<HWND> TopLevelWindows(const Program& program);
std::wstring ClassName(HWND window);
// The main dialog: a dialog without owner that holds the status box. Found also
// while it is not shown yet.
HWND FindMainWindow(const Program& program);
// A shown message box (standard dialog) owned by the main window; null if none.
HWND FindMessageBox(const Program& program);
// The progress window: a top-level progress bar of the program; null if none.
HWND FindProgressWindow(const Program& program);

// Text through WM_GETTEXT with a time limit, so a busy program cannot block the
// driver; ok is false when the program did not answer.
std::wstring WindowText(HWND window, bool* ok = nullptr);
std::wstring ControlText(HWND dialog, int id, bool* ok = nullptr);
bool ControlEnabled(HWND dialog, int id);
// The text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);

// Presses a push button of a dialog: a posted BM_CLICK, as a mouse click does it.
bool PressButton(HWND dialog, int id);
// A real left click at the centre of a dialog's control, made as system input (cursor
// moved there, button down and up): it reaches whatever window the system finds at that
// point, enabled or not, and waits in the program's input queue like a user's click.
bool ClickControl(HWND dialog, int id);
// Real key strokes as system input, to whichever window has the keyboard focus: every
// key but the last is held down while the last is pressed (VK_MENU, VK_F4 is Alt+F4).
bool PressKeys(std::initializer_list<WORD> keys);
// Answers a message box with one of its buttons (IDOK, IDCANCEL, IDYES, IDNO).
bool AnswerMessageBox(HWND box, int id);
// A position read from a progress bar (PBM_GETPOS); -1 when the program is busy.
int ProgressPosition(HWND progress);

// A command to the simulated build's control window (sim/sim_control.h). It is sent
// from a thread of its own, because the program may answer it only after a message box
// that it raised has been closed.
class SimCommand {
public:
    SimCommand(const Program& program, std::uint32_t command, const std::wstring& argument);
    ~SimCommand();
    SimCommand(const SimCommand&) = delete;
    SimCommand& operator=(const SimCommand&) = delete;
    bool Started() const { return thread_ != nullptr; }
    // Whether the program has answered (or the command could not be sent).
    bool Finished() const;
    // Waits for the program's answer: true when it carried out the command.
    bool Wait(DWORD timeoutMs);

private:
    struct Call;
    static DWORD WINAPI Send(void* call);
    std::shared_ptr<Call> call_;
    HANDLE thread_ = nullptr;
};
// The simulated build's control window, or null (the product has none).
HWND FindSimControl(const Program& program);

// Output for people: UTF-8, line breaks of a text shown as "\r\n" when escaped.
std::string Utf8(const std::wstring& text);
std::string Escaped(const std::wstring& text);
// A path as Wine's Windows side sees it: /a/b becomes Z:\a\b.
std::wstring WindowsPath(const std::string& path);
