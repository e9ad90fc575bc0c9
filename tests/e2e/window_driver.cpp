#include "tests/e2e/window_driver.h"

#include <commctrl.h>

#include "sim/sim_control.h"

namespace {

constexpr DWORD MESSAGE_TIMEOUT_MS = 2000;
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

// An environment block with ORVANTA_SIM replaced by scenario (or removed).
std::vector<wchar_t> Environment(const wchar_t* scenario) {
    std::vector<wchar_t> block;
    const std::wstring own = std::wstring(SIM_SCENARIO_VARIABLE) + L"=";
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, own.c_str(), own.size()) != 0) {
            block.insert(block.end(), entry, entry + wcslen(entry) + 1);
        }
    }
    FreeEnvironmentStringsW(strings);
    if (scenario != nullptr) {
        const std::wstring entry = own + scenario;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back(L'\0');
    return block;
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) {
        search->found.push_back(window);
    }
    return TRUE;
}

}  // namespace

bool Launch(Program& program, const std::wstring& exe, const wchar_t* scenario,
            const wchar_t* desktop) {
    std::vector<wchar_t> environment = Environment(scenario);
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<wchar_t*>(desktop);
    return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                          &program.process) != FALSE;
}

bool IsRunning(const Program& program) {
    return program.process.hProcess != nullptr &&
           WaitForSingleObject(program.process.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitExit(const Program& program, DWORD timeoutMs, DWORD& exitCode) {
    if (WaitForSingleObject(program.process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(program.process.hProcess, &exitCode) != FALSE;
}

void Release(Program& program) {
    if (program.process.hProcess == nullptr) {
        return;
    }
    if (IsRunning(program)) {
        TerminateProcess(program.process.hProcess, 99);
        WaitForSingleObject(program.process.hProcess, 10000);
    }
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
    program = Program{};
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(50);
    }
}

std::vector<HWND> TopLevelWindows(const Program& program) {
    Search search{program.process.dwProcessId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

HWND FindMainWindow(const Program& program) {
    for (HWND window : TopLevelWindows(program)) {
        if (ClassName(window) == L"#32770" && GetWindow(window, GW_OWNER) == nullptr &&
            GetDlgItem(window, 40004) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

HWND FindMessageBox(const Program& program) {
    for (HWND window : TopLevelWindows(program)) {
        if (window != program.main && ClassName(window) == L"#32770" && IsWindowVisible(window) &&
            GetWindow(window, GW_OWNER) == program.main) {
            return window;
        }
    }
    return nullptr;
}

HWND FindProgressWindow(const Program& program) {
    for (HWND window : TopLevelWindows(program)) {
        if (ClassName(window) == PROGRESS_CLASSW) {
            return window;
        }
    }
    return nullptr;
}

std::wstring WindowText(HWND window, bool* ok) {
    DWORD_PTR length = 0;
    bool answered = SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                        MESSAGE_TIMEOUT_MS, &length) != 0;
    std::wstring text;
    if (answered) {
        std::vector<wchar_t> buffer(length + 1, L'\0');
        DWORD_PTR copied = 0;
        answered = SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                                       reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                                       MESSAGE_TIMEOUT_MS, &copied) != 0;
        text.assign(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
    }
    if (ok != nullptr) {
        *ok = answered;
    }
    return text;
}

std::wstring ControlText(HWND dialog, int id, bool* ok) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        if (ok != nullptr) {
            *ok = false;
        }
        return L"<no control " + std::to_wstring(id) + L">";
    }
    return WindowText(control, ok);
}

bool ControlEnabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && IsWindowEnabled(control);
}

std::wstring MessageBoxText(HWND box) {
    return ControlText(box, MESSAGE_BOX_TEXT_ID);
}

bool PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool ClickControl(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    RECT area{};
    if (control == nullptr || !GetWindowRect(control, &area) ||
        !SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2)) {
        return false;
    }
    INPUT clicks[2] = {};
    clicks[0].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].type = INPUT_MOUSE;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, clicks, sizeof(INPUT)) == 2;
}

bool PressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> strokes;
    for (WORD key : keys) {  // down in order
        INPUT stroke{};
        stroke.type = INPUT_KEYBOARD;
        stroke.ki.wVk = key;
        stroke.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        strokes.push_back(stroke);
    }
    for (auto key = keys.end(); key != keys.begin();) {  // up in reverse
        --key;
        INPUT stroke{};
        stroke.type = INPUT_KEYBOARD;
        stroke.ki.wVk = *key;
        stroke.ki.wScan = static_cast<WORD>(MapVirtualKeyW(*key, MAPVK_VK_TO_VSC));
        stroke.ki.dwFlags = KEYEVENTF_KEYUP;
        strokes.push_back(stroke);
    }
    const UINT count = static_cast<UINT>(strokes.size());
    return SendInput(count, strokes.data(), sizeof(INPUT)) == count;
}

bool AnswerMessageBox(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr &&
           PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) !=
               FALSE;
}

int ProgressPosition(HWND progress) {
    DWORD_PTR position = 0;
    if (SendMessageTimeoutW(progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &position) == 0) {
        return -1;
    }
    return static_cast<int>(position);
}

HWND FindSimControl(const Program& program) {
    for (HWND window : TopLevelWindows(program)) {
        if (ClassName(window) == SIM_CONTROL_CLASS) {
            return window;
        }
    }
    return nullptr;
}

// Shared with the sending thread, which may outlive the command when the program
// never answers.
struct SimCommand::Call {
    HWND target;
    std::uint32_t command;
    std::wstring argument;
    LRESULT result = 0;
};

SimCommand::SimCommand(const Program& program, std::uint32_t command, const std::wstring& argument)
    : call_(std::make_shared<Call>(Call{FindSimControl(program), command, argument})) {
    if (call_->target != nullptr) {
        auto* shared = new std::shared_ptr<Call>(call_);
        thread_ = CreateThread(nullptr, 0, Send, shared, 0, nullptr);
        if (thread_ == nullptr) {
            delete shared;
        }
    }
}

SimCommand::~SimCommand() {
    if (thread_ != nullptr) {
        CloseHandle(thread_);
    }
}

DWORD WINAPI SimCommand::Send(void* parameter) {
    std::unique_ptr<std::shared_ptr<Call>> shared(static_cast<std::shared_ptr<Call>*>(parameter));
    Call& call = **shared;
    COPYDATASTRUCT data{};
    data.dwData = call.command;
    data.cbData = static_cast<DWORD>(call.argument.size() * sizeof(wchar_t));
    data.lpData = call.argument.empty() ? nullptr : call.argument.data();
    call.result = SendMessageW(call.target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return 0;
}

bool SimCommand::Finished() const {
    return thread_ == nullptr || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool SimCommand::Wait(DWORD timeoutMs) {
    return thread_ != nullptr && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0 &&
           call_->result != 0;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

std::string Escaped(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (c == L'\r') {
            shown += L"\\r";
        } else if (c == L'\n') {
            shown += L"\\n";
        } else {
            shown += c;
        }
    }
    std::string quoted(1, '"');
    quoted += Utf8(shown);
    quoted += '"';
    return quoted;
}

std::wstring WindowsPath(const std::string& path) {
    std::wstring result;
    if (!path.empty() && path[0] == '/') {
        result = L"Z:";
    }
    for (char c : path) {
        result += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return result;
}
