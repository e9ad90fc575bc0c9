// The terminal program: its commands on top of the dialog's status flow and update.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "res/catalogue.h"

struct DeviceChange;

// What the program needs of its platform besides the HID host and the clock, which
// the entry sets (hidHost, systemClock) before RunCli.
class CliPlatform {
public:
    virtual ~CliPlatform() = default;
    virtual Terminal& Console() = 0;
    // The language of the environment (locale variables, the user interface language).
    virtual CatalogueLanguage EnvironmentLanguage() = 0;
    // Takes the one-instance lock, held until the program ends; false when another copy
    // of the updater (the dialog or the terminal program) holds it.
    virtual bool HoldInstance() = 0;
    // Opens the exchange log for writing; null when it cannot be.
    virtual std::FILE* OpenLog(const std::string& path) = 0;
    // Sets the platform's last error (what the clock's LastError reads).
    virtual void RestoreLastError(std::uint32_t error) = 0;
    // Begins following arrivals and removals of HID devices; false when it cannot.
    virtual bool StartWatching() = 0;
    enum class Wait { Change, TimedOut, Failed };
    // Blocks until the next arrival or removal (as the dialog receives it), or for at most
    // timeoutMs when that is not negative; Failed when no more can come.
    virtual Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) = 0;
    // Starts run(argument) on a thread of its own that nobody waits for; false when none
    // can be had.
    virtual bool StartThread(void (*run)(void*), void* argument) = 0;

    enum class SessionHold {
        Held,         // held off until AllowSessionEnd
        Unavailable,  // this system offers no way (no logind, no system bus): the update may go on
        Failed,       // the way exists, but what it needs could not be had
    };
    // For the command sequence: sleep, shutdown and the end of the session held off as far
    // as the platform lets a program, with reason (the user's language) as the why.
    virtual SessionHold HoldOffSessionEnd(const std::wstring& reason) = 0;
    virtual void AllowSessionEnd() = 0;
};

// The whole program for its arguments (without the program's name); the exit status.
std::int32_t RunCli(const std::vector<std::string>& args, CliPlatform& platform);

// The exit status of a connection check's status (LastConnectionStatus), where no unit
// could be opened: one found but not allowed to be opened (8), one another program holds
// (6, as another copy running), or none (2).
std::int32_t ExitStatusForCheck(std::uint16_t status, bool unitDenied, bool unitBusy);

// The product's version, "3.3.0", and the line --version prints.
std::string VersionLine();
