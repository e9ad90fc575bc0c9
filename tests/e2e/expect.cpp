#include "tests/e2e/expect.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "res/catalogue.h"
#include "res/resource.h"

namespace {

constexpr wchar_t NO_UNIT_VERSION[] = L"0.0.0";

CatalogueLanguage language = CatalogueLanguage::English;
int failures = 0;
const wchar_t* desktop = nullptr;

bool Matches(const std::wstring& actual, const std::wstring& expected) {
    return actual.size() == expected.size() &&
           std::equal(actual.begin(), actual.end(), expected.begin(), [](wchar_t a, wchar_t e) {
               return a == e || (e == ANY_HEX_DIGIT && std::iswxdigit(a) && !std::iswupper(a));
           });
}

constexpr int VERSION_FIELDS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION};
constexpr int VERSION_LINE_CONTROLS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION,
                                         IDC_UNIT_LABEL, IDC_BOOTLOADER_LABEL, IDC_ESC_LABEL};

std::wstring Flag(bool on) {
    return on ? L"enabled" : L"disabled";
}

}  // namespace

// ---- the command line

std::string CommandLine::Value(const std::string& option, const std::string& otherwise) const {
    const auto found = values.find(option);
    return found != values.end() ? found->second : otherwise;
}

CommandLine ReadCommandLine(int argc, char** argv, std::initializer_list<std::string> valued) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (i + 1 < argc && std::find(valued.begin(), valued.end(), word) != valued.end()) {
            line.values[word] = argv[++i];
        } else {
            line.words.push_back(word);
        }
    }
    return line;
}

// ---- output

void UseBinaryOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}

void Say(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Fail(const std::string& what) {
    ++failures;
    Say("FAILED: " + what);
}

int Failures() {
    return failures;
}

// ---- the set-up the programs see

bool UseUserLanguage() {
    const bool german = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN;
    language = german ? CatalogueLanguage::German : CatalogueLanguage::English;
    return german;
}

void UseDesktop(const std::string& name) {
    if (name.empty()) {
        return;
    }
    static std::wstring entered;
    const std::wstring wide(name.begin(), name.end());
    const wchar_t size[] = L"1024x768";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", wide.c_str(), REG_SZ, size,
                    sizeof size);
    HDESK handle = CreateDesktopW(wide.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (handle == nullptr || !SetThreadDesktop(handle)) {
        Say("(could not use desktop " + name + ", error " + std::to_string(GetLastError()) +
            "; staying on the default one)");
        return;
    }
    entered = wide;
    desktop = entered.c_str();
}

const wchar_t* Desktop() {
    return desktop;
}

// ---- texts

std::wstring Text(int id) {
    const wchar_t* text = CatalogueText(static_cast<std::uint16_t>(id), language);
    return text == nullptr ? L"<no text " + std::to_wstring(id) + L">" : text;
}

std::wstring WithHint(int id) {
    return Text(id) + L"\r\n\r\n" + Text(IDS_HINT);
}

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

std::wstring FailureText(int textId, const wchar_t* code, const wchar_t* systemError) {
    if (code == nullptr) {
        return Text(textId);
    }
    return Text(textId) + L"\r\n" + Fill(Text(IDS_ERROR_CODE_LINE), {code, systemError});
}

void ExpectText(const char* what, const std::wstring& actual, const std::wstring& expected) {
    if (!Matches(actual, expected)) {
        Fail(std::string(what) + ": expected " + Escaped(expected) + ", got " + Escaped(actual));
    }
}

// ---- what the main window shows

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

Screen Build(const Expected& expected, const std::wstring& title) {
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

bool ExpectScreen(const Program& program, const Expected& expected, const char* when,
                  const std::wstring& title) {
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

// ---- starting, boxes, ending

bool Start(Program& program, const std::wstring& exe, const wchar_t* scenario) {
    if (!Launch(program, exe, scenario, desktop)) {
        Fail("could not start " + Utf8(exe) + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    if (!WaitFor([&] { return (program.main = FindMainWindow(program)) != nullptr; }, START_TIMEOUT_MS)) {
        // What there was instead tells a program that ended from one that hangs.
        std::string windows;
        for (HWND window : TopLevelWindows(program)) {
            windows += " " + Utf8(ClassName(window)) + " " + Escaped(WindowText(window)) +
                       (IsWindowVisible(window) ? "" : " (hidden)") + ";";
        }
        DWORD code = 0;
        const std::string state = IsRunning(program) ? "still running"
                                  : GetExitCodeProcess(program.process.hProcess, &code)
                                      ? "ended with " + std::to_string(code)
                                      : "ended";
        Fail("no main window within " + std::to_string(START_TIMEOUT_MS / 1000) + " s; the program " +
             state + ", its windows:" + (windows.empty() ? " none" : windows));
        return false;
    }
    return true;
}

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

void CloseProgram(Program& program, CloseBy how) {
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
