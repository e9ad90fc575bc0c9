#include "cli/win32/cli_platform_win32.h"

#include "app/status_flow.h"
#include "cli/terminal_text.h"

#include <windows.h>

#include <dbt.h>

// mingw-w64's HID headers declare C functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>

namespace {

// What a console control event does, read by the handler's thread: changed and read
// only inside the lock, so that the command sequence cannot begin between the handler's
// look and the program's end. A fixed buffer: a late handler may still run while the
// program's objects are destroyed.
CRITICAL_SECTION interruptLock;
constexpr std::size_t INTERRUPT_TEXT_CAPACITY = 1024;
wchar_t interruptText[INTERRUPT_TEXT_CAPACITY];
std::size_t interruptTextLength = 0;
bool interruptEnds = true;
std::int32_t interruptExitStatus = 130;
// Set once an interrupt has decided that the program ends.
bool ending = false;
// Set while no command sequence runs; a closing console waits for it.
HANDLE sequenceOver = nullptr;

bool IsConsole(HANDLE handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

void WriteTo(HANDLE handle, const std::string& text) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    if (IsConsole(handle)) {
        const std::wstring wide = WideFromUtf8(text);
        DWORD written;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    // Pipes and files get UTF-8 with the platform's line ends.
    std::string bytes;
    for (const char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    DWORD written;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteStream(OutputStream stream, const std::string& text) {
    WriteTo(GetStdHandle(stream == OutputStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), text);
}

// Never destroyed: its thread may be blocked in a write when the program ends.
OutputQueue& TheOutputQueue() {
    static OutputQueue* queue = new OutputQueue(WriteStream, StartWin32Thread);
    return *queue;
}

// Ends the program at once, as _exit does: the main thread is stopped wherever it is, and
// the runtime's teardown could wait for a lock it holds.
[[noreturn]] void EndProgram(std::int32_t exitStatus) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitStatus));
    ExitProcess(static_cast<UINT>(exitStatus));
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    EnterCriticalSection(&interruptLock);
    if (!interruptEnds) {
        // The notice is written by the queue's thread: written here, inside the lock, a
        // console held by a selection would hold up the program's next change of policy.
        TheOutputQueue().Notify();
        LeaveCriticalSection(&interruptLock);
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
            // Windows ends the program once this returns (or after its own grace period
            // of a few seconds): hold it off until the outcome is out, as far as it lets
            // us, then end with the outcome's status.
            WaitForSingleObject(sequenceOver, INFINITE);
            EnterCriticalSection(&interruptLock);
            EndProgram(interruptExitStatus);
        }
        return TRUE;
    }
    // Decided: the program ends. Marked inside the lock, so that the sequence cannot begin
    // now (SetInterruptAction waits for the end); the text is written outside it, where an
    // output that takes nothing holds up only this handler.
    ending = true;
    const std::wstring text(interruptText, interruptTextLength);
    const std::int32_t exitStatus = interruptExitStatus;
    LeaveCriticalSection(&interruptLock);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(error)) {
        DWORD written;
        WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        WriteTo(error, TerminalUtf8(text));
    }
    EndProgram(exitStatus);
}

void SetInterruptAction(const std::string& text, bool ends, std::int32_t exitStatus) {
    const std::wstring wide = WideFromUtf8(text);
    EnterCriticalSection(&interruptLock);
    if (ending) {
        // An interrupt has decided the program ends; its handler is writing its word. Go
        // no further: whatever comes next (the sequence among it) must not begin.
        LeaveCriticalSection(&interruptLock);
        Sleep(INFINITE);
    }
    interruptTextLength = std::min(wide.size(), INTERRUPT_TEXT_CAPACITY);
    std::copy_n(wide.begin(), interruptTextLength, interruptText);
    interruptEnds = ends;
    interruptExitStatus = exitStatus;
    if (ends) {
        SetEvent(sequenceOver);
    } else {
        ResetEvent(sequenceOver);
    }
    LeaveCriticalSection(&interruptLock);
}

Win32CliPlatform* watchingPlatform = nullptr;

// The window that holds off the end of the Windows session during the command sequence:
// Windows sends logoff and shutdown to the top-level windows of a program that uses
// user32, not to its console handler.
constexpr const wchar_t* SESSION_WINDOW_CLASS = L"OrvantaCliSession";

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return FALSE;  // the ESC would be left half-written
    case WM_CLOSE:
        ShutdownBlockReasonDestroy(window);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

struct SessionWindowStart {
    std::wstring reason;
    HANDLE ready;
    HWND window;
};

// The session window's thread: creates the window, says whether it could, and answers
// its messages until it is closed.
DWORD WINAPI RunSessionWindow(void* opaque) {
    auto* start = static_cast<SessionWindowStart*>(opaque);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SessionWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = SESSION_WINDOW_CLASS;
    RegisterClassW(&windowClass);
    // Top-level (Windows asks those), never shown.
    HWND window = CreateWindowExW(0, SESSION_WINDOW_CLASS, start->reason.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) {
        ShutdownBlockReasonCreate(window, start->reason.c_str());
    }
    start->window = window;
    SetEvent(start->ready);  // start is the caller's, and gone after this
    if (window == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

bool StartWin32Thread(void (*run)(void*), void* argument) {
    ThreadStart* start = NewThreadStart(run, argument);
    if (start == nullptr) {
        return false;
    }
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* opaque) -> DWORD {
            RunThreadStart(opaque);
            return 0;
        },
        start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    CloseHandle(thread);
    return true;
}

std::intptr_t DeviceWindowProc(void* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (message == WM_DEVICECHANGE && watchingPlatform != nullptr &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            watchingPlatform->Queue(wParam, record->dbcc_name);
        }
        return TRUE;
    }
    return DefWindowProcW(static_cast<HWND>(window), message, wParam, lParam);
}

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DeviceWindowProc(window, message, wParam, lParam);
}

}  // namespace

Win32Terminal::Win32Terminal() : QueuedTerminal(TheOutputQueue()) {
    InitializeCriticalSection(&interruptLock);
    sequenceOver = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool Win32Terminal::InputIsTerminal() {
    return IsConsole(GetStdHandle(STD_INPUT_HANDLE));
}

bool Win32Terminal::OutputIsTerminal() {
    return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool Win32Terminal::ReadLine(std::string& line) {
    line.clear();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (IsConsole(input)) {
        wchar_t buffer[512];
        DWORD got = 0;
        if (!ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &got, nullptr) || got == 0) {
            return false;
        }
        std::wstring wide(buffer, got);
        while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r')) {
            wide.pop_back();
        }
        line = TerminalUtf8(wide);
        return true;
    }
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(input, &c, 1, &got, nullptr) || got == 0) {
            return false;  // an answer not finished with Enter is none
        }
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        line += c;
    }
}

void Win32Terminal::DiscardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (IsConsole(input)) {
        FlushConsoleInputBuffer(input);
    }
}

void Win32Terminal::SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) {
    SetInterruptAction(text, ends, exitStatus);
}

CatalogueLanguage Win32CliPlatform::EnvironmentLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? CatalogueLanguage::German
                                                                    : CatalogueLanguage::English;
}

bool Win32CliPlatform::HoldInstance() {
    // Held until the process ends.
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, instanceName_);
    const DWORD error = GetLastError();
    return !(error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED));
}

std::FILE* Win32CliPlatform::OpenLog(const std::string& path) {
    return _wfopen(WideFromUtf8(path).c_str(), L"w");
}

bool Win32CliPlatform::StartThread(void (*run)(void*), void* argument) {
    return StartWin32Thread(run, argument);
}

CliPlatform::SessionHold Win32CliPlatform::HoldOffSessionEnd(const std::wstring& reason) {
    AllowSessionEnd();
    SessionWindowStart start{reason, CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (start.ready == nullptr) {
        return SessionHold::Failed;
    }
    HANDLE thread = CreateThread(nullptr, 0, RunSessionWindow, &start, 0, nullptr);
    if (thread == nullptr) {
        CloseHandle(start.ready);
        return SessionHold::Failed;
    }
    WaitForSingleObject(start.ready, INFINITE);
    CloseHandle(start.ready);
    if (start.window == nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        return SessionHold::Failed;
    }
    sessionWindow_ = start.window;
    sessionThread_ = thread;
    return SessionHold::Held;
}

void Win32CliPlatform::AllowSessionEnd() {
    if (sessionThread_ == nullptr) {
        return;
    }
    PostMessageW(static_cast<HWND>(sessionWindow_), WM_CLOSE, 0, 0);
    WaitForSingleObject(sessionThread_, INFINITE);
    CloseHandle(sessionThread_);
    sessionThread_ = nullptr;
    sessionWindow_ = nullptr;
}

void Win32CliPlatform::RestoreLastError(std::uint32_t error) {
    SetLastError(error);
}

bool Win32CliPlatform::CreateWindowOfClass(const wchar_t* className, bool topLevel) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    // A top-level window is found by FindWindowW; a message-only one is not.
    window_ = CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, topLevel ? nullptr : HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    watchingPlatform = this;
    return window_ != nullptr;
}

bool Win32CliPlatform::StartWatching() {
    if (!CreateWindowOfClass(L"OrvantaCliDevices", false)) {
        return false;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    return RegisterDeviceNotificationW(static_cast<HWND>(Window()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
}

CliPlatform::Wait Win32CliPlatform::WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (changes_.empty()) {
        MSG message;
        while (changes_.empty() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                return Wait::Failed;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!changes_.empty()) {
            break;
        }
        DWORD left = INFINITE;
        if (timeoutMs >= 0) {
            const ULONGLONG passed = GetTickCount64() - start;
            if (passed >= static_cast<ULONGLONG>(timeoutMs)) {
                return Wait::TimedOut;
            }
            left = static_cast<DWORD>(static_cast<ULONGLONG>(timeoutMs) - passed);
        }
        // Sent messages (the device notifications) are delivered within the wait.
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, left, QS_ALLINPUT) == WAIT_FAILED) {
            return Wait::Failed;
        }
    }
    change = changes_.front();
    changes_.pop_front();
    return Wait::Change;
}

std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(TerminalUtf8(argv[i]));
    }
    return args;
}
