// What the end-to-end cases and the demo have in common: output for people, the
// catalogue's texts in the language the programs show, the desktop the programs run on,
// and the expectations on the main window, its message boxes and its end.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/window_driver.h"

// The simulated build may update its unit and has the release title.
inline constexpr wchar_t TITLE[] = L"QUORVEX ORVANTA 90 FW Updater 3.3 ";
// A run's first window on a new desktop has once taken over 30 s under Wine; a case
// has 120 s.
inline constexpr DWORD START_TIMEOUT_MS = 60000;
inline constexpr DWORD STATE_TIMEOUT_MS = 15000;
// Erase wait, 2037 blocks of 20 ms and Wine's own pace, with room to spare.
inline constexpr DWORD UPDATE_TIMEOUT_MS = 180000;

// ---- the command line

// A driver's command line: the options that take a value, among those the driver names,
// and the other words in their order.
struct CommandLine {
    std::map<std::string, std::string> values;
    std::vector<std::string> words;

    std::string Value(const std::string& option, const std::string& otherwise = "") const;
};

CommandLine ReadCommandLine(int argc, char** argv, std::initializer_list<std::string> valued);

// ---- output

// Standard output takes UTF-8 bytes and bare line feeds.
void UseBinaryOutput();
void Say(const std::string& line);
// A check that did not hold: said at once, counted for the result.
void Fail(const std::string& what);
int Failures();

// ---- the set-up the programs see

// The catalogue language as Wine derives it from LC_ALL, as the programs do; true: German.
bool UseUserLanguage();
// The virtual desktop the programs run on unless --desktop names another.
inline constexpr char DESKTOP[] = "OrvantaUpdater";
// Sets up a virtual desktop of that name and moves the driver onto it, so that it sees the
// windows of the programs it starts there ("": the driver's own desktop). Wine draws the
// window frames there itself, and windows close at once; on a bare X display without a
// window manager each closing window costs Wine a two-second wait.
void UseDesktop(const std::string& name);
// The desktop the programs are started on; null: the driver's own.
const wchar_t* Desktop();

// ---- texts

std::wstring Text(int id);
// The text followed by the connection hint.
std::wstring WithHint(int id);
// The catalogue's format with each %s and %08x filled in turn.
std::wstring Fill(const std::wstring& format, const std::vector<std::wstring>& values);
// A failure box's text: the step's text and, unless the code was -1, the code line.
std::wstring FailureText(int textId, const wchar_t* code, const wchar_t* systemError);

// Stands in an expected text for one hexadecimal digit of any value.
inline constexpr wchar_t ANY_HEX_DIGIT = L'\x1';
inline constexpr wchar_t ANY_SYSTEM_ERROR[] = L"\x1\x1\x1\x1\x1\x1\x1\x1";

void ExpectText(const char* what, const std::wstring& actual, const std::wstring& expected);

// ---- what the main window shows

struct Screen {
    std::vector<std::pair<std::string, std::wstring>> items;  // name, shown value

    bool operator==(const Screen& other) const { return items == other.items; }
};

Screen Read(HWND main);

// What a state of the main window must show.
struct Expected {
    int status;
    bool hint;                  // the status text is followed by the connection hint
    const wchar_t* unitLabel;   // null: message 40039
    const wchar_t* versions[3]; // unit, bootloader, ESC; null: the no-unit state
    bool update;                // Update enabled
};

Screen Build(const Expected& expected, const std::wstring& title = TITLE);
// Waits until the main window shows the state; reports every difference if it never does.
bool ExpectScreen(const Program& program, const Expected& expected, const char* when,
                  const std::wstring& title = TITLE);

// ---- starting, boxes, ending

// Starts the program on the desktop and waits for its main window.
bool Start(Program& program, const std::wstring& exe, const wchar_t* scenario);

// A message box the program must show now: caption, text and its set of buttons.
struct Box {
    int caption;
    std::wstring text;
    std::vector<int> buttons;  // exactly these of IDOK, IDCANCEL, IDYES, IDNO
};

HWND ExpectBox(const Program& program, const Box& box, const char* when);
void ExpectNoBox(const Program& program, const char* when);
// Answers the box and waits until it is gone.
bool Answer(HWND box, int id);

enum class CloseBy { Message, RealClick };

// Close, as the user ends the program: it must end with exit code 0.
void CloseProgram(Program& program, CloseBy how = CloseBy::Message);
