// The terminal program's platform on Windows: the console (or the pipes and files the
// standard handles are), Ctrl-C and the console closing, the one-instance mutex shared
// with the dialog, the log file, and device changes through a message-only window.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/dialog_phase.h"
#include "cli/cli.h"
#include "cli/output_queue.h"

class Win32Terminal : public QueuedTerminal {
public:
    Win32Terminal();
    bool InputIsTerminal() override;
    bool OutputIsTerminal() override;
    bool ReadLine(std::string& line) override;
    void DiscardInput() override;

protected:
    void SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) override;
};

class Win32CliPlatform : public CliPlatform {
public:
    explicit Win32CliPlatform(const wchar_t* instanceName) : instanceName_(instanceName) {}

    Terminal& Console() override { return terminal_; }
    CatalogueLanguage EnvironmentLanguage() override;
    bool HoldInstance() override;
    std::FILE* OpenLog(const std::string& path) override;
    void RestoreLastError(std::uint32_t error) override;
    bool StartThread(void (*run)(void*), void* argument) override;
    // A hidden top-level window, on a thread of its own, that refuses the end of the
    // session and names reason as what holds it up.
    SessionHold HoldOffSessionEnd(const std::wstring& reason) override;
    void AllowSessionEnd() override;
    // HID interface arrivals and removals, as the dialog is sent them.
    bool StartWatching() override;
    Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) override;

protected:
    // The window that receives WM_DEVICECHANGE (and whatever a simulated bus sends).
    void* Window() const { return window_; }
    void Queue(std::uintptr_t event, const std::wstring& name) { changes_.push_back({event, name}); }
    // Creates the window of a class with this name; false when it cannot.
    bool CreateWindowOfClass(const wchar_t* className, bool topLevel);

private:
    Win32Terminal terminal_;
    const wchar_t* instanceName_;
    void* window_ = nullptr;
    std::deque<DeviceChange> changes_;
    void* sessionWindow_ = nullptr;
    void* sessionThread_ = nullptr;

    friend std::intptr_t DeviceWindowProc(void*, unsigned, std::uintptr_t, std::intptr_t);
};

// A thread nobody waits for; false when none can be had.
bool StartWin32Thread(void (*run)(void*), void* argument);

// The program's arguments as UTF-8, without its name.
std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv);
