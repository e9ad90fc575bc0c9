// The terminal program's platform on POSIX systems: the terminal (standard streams,
// signals), the one-instance lock, the log file. Following device changes is left to the
// program: the product follows udev, the simulated build its control pipe.
#pragma once

#include <string>

#include "cli/cli.h"
#include "cli/output_queue.h"
#include "link/device_events.h"

// Opens /dev/null onto whichever of standard input, output and error is closed, so that
// no file the program opens later (the unit among them) takes one of their numbers and
// gets the program's text. First thing in main.
void EnsureStandardDescriptors();

// A detached thread with the interrupts blocked; false (errno set) when none can be had.
bool StartPosixThread(void (*run)(void*), void* argument);

class PosixTerminal : public QueuedTerminal {
public:
    PosixTerminal();
    bool InputIsTerminal() override;
    bool OutputIsTerminal() override;
    bool ReadLine(std::string& line) override;
    void DiscardInput() override;

protected:
    void SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) override;
};

class PosixCliPlatform : public CliPlatform {
public:
    // lockName: the lock file's name; one running copy holds it.
    explicit PosixCliPlatform(std::string lockName) : lockName_(std::move(lockName)) {}

    Terminal& Console() override { return terminal_; }
    CatalogueLanguage EnvironmentLanguage() override;
    bool HoldInstance() override;
    std::FILE* OpenLog(const std::string& path) override;
    void RestoreLastError(std::uint32_t error) override;
    bool StartThread(void (*run)(void*), void* argument) override;
    // logind's inhibitor for sleep, shutdown and the lid switch.
    SessionHold HoldOffSessionEnd(const std::wstring& reason) override;
    void AllowSessionEnd() override;

protected:
    // Waits for the next event of source (and takes it), for at most timeoutMs when that
    // is not negative.
    static Wait WaitForEvent(DeviceEventSource& source, DeviceChange& change, std::int32_t timeoutMs);

private:
    PosixTerminal terminal_;
    std::string lockName_;
    int lockFile_ = -1;
    int inhibitor_ = -1;
};

std::vector<std::string> ArgumentsOf(int argc, char** argv);
