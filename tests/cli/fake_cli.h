// The terminal program in-process: a terminal that records what it is told and answers
// from a script, a platform around it, and a bus that writes into the same record, so
// that the order of terminal calls and unit commands can be checked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_phase.h"
#include "cli/cli.h"
#include "cli/terminal.h"
#include "link/hid_host.h"
#include "sim/sim_unit.h"

// One thing that happened, in the order it happened.
struct CliEvent {
    enum Kind {
        Out, Err, ReadLine, DiscardInput, EndOnInterrupt, RefuseInterrupt, Open, Write, PrepareSequence,
        HoldOffSessionEnd, AllowSessionEnd
    };
    Kind kind;
    std::string text;         // what was written, or the interrupt text
    std::int32_t value = 0;   // the exit status for EndOnInterrupt, the command byte for Write
    std::uint8_t argument = 0;  // the request's argument byte for Write
};

using CliEvents = std::vector<CliEvent>;

class RecordingTerminal : public Terminal {
public:
    explicit RecordingTerminal(CliEvents& events) : events_(events) {}

    std::string out;
    std::string err;
    std::deque<std::string> input;  // the lines typed; then the end of input
    bool inputIsTerminal = true;
    bool outputIsTerminal = false;
    bool prepares = true;  // what PrepareSequence answers

    void Write(OutputStream stream, const std::string& text) override {
        (stream == OutputStream::Out ? out : err) += text;
        events_.push_back({stream == OutputStream::Out ? CliEvent::Out : CliEvent::Err, text});
    }
    void WriteProgress(const std::string& text) override { Write(OutputStream::Out, text); }
    bool PrepareSequence() override {
        events_.push_back({CliEvent::PrepareSequence, {}});
        return prepares;
    }
    bool InputIsTerminal() override { return inputIsTerminal; }
    bool OutputIsTerminal() override { return outputIsTerminal; }
    bool ReadLine(std::string& line) override {
        events_.push_back({CliEvent::ReadLine, {}});
        if (input.empty()) {
            return false;
        }
        line = input.front();
        input.pop_front();
        return true;
    }
    void DiscardInput() override { events_.push_back({CliEvent::DiscardInput, {}}); }
    void EndOnInterrupt(const std::string& text, std::int32_t exitStatus) override {
        events_.push_back({CliEvent::EndOnInterrupt, text, exitStatus});
    }
    void RefuseInterrupt(const std::string& text) override {
        events_.push_back({CliEvent::RefuseInterrupt, text});
    }

private:
    CliEvents& events_;
};

// The simulated bus, with every open and report write entered into the record.
class RecordingBus : public HidHost {
public:
    RecordingBus(HidHost& inner, CliEvents& events) : inner_(inner), events_(events) {}

    HidInterfaceList* GetInterfaceList() override { return inner_.GetInterfaceList(); }
    bool HasInterface(HidInterfaceList* list, std::uint32_t index) override {
        return inner_.HasInterface(list, index);
    }
    bool GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) override {
        return inner_.GetInterfacePath(list, index, path);
    }
    void DestroyInterfaceList(HidInterfaceList* list) override { inner_.DestroyInterfaceList(list); }
    bool GetListedAttributes(HidInterfaceList* list, std::uint32_t index, HidAttributes& attributes) override {
        return inner_.GetListedAttributes(list, index, attributes);
    }
    DeviceHandle Open(const std::wstring& path) override {
        events_.push_back({CliEvent::Open, {}});
        return inner_.Open(path);
    }
    bool LastOpenDenied() override { return inner_.LastOpenDenied(); }
    bool LastOpenBusy() override { return inner_.LastOpenBusy(); }
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        return inner_.GetAttributes(handle, attributes);
    }
    bool GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) override {
        return inner_.GetReportLengths(handle, lengths);
    }
    bool Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
               std::uint32_t timeoutMs) override {
        events_.push_back({CliEvent::Write, {}, length > 1 ? report[1] : -1, length > 3 ? report[3] : std::uint8_t{0}});
        return inner_.Write(handle, report, length, timeoutMs);
    }
    bool Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) override {
        return inner_.Read(handle, report, length, timeoutMs);
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }

private:
    HidHost& inner_;
    CliEvents& events_;
};

class FakeCliPlatform : public CliPlatform {
public:
    FakeCliPlatform(RecordingTerminal& terminal, FakeClock& clock, CliEvents& events)
        : terminal_(terminal), clock_(clock), events_(events) {}

    CatalogueLanguage language = CatalogueLanguage::English;
    bool holdInstance = true;
    std::FILE* logFile = nullptr;              // what OpenLog returns
    std::vector<std::string> logPaths;         // every OpenLog
    bool watchingStarts = true;
    bool threadsStart = true;
    SessionHold sessionHold = SessionHold::Held;
    // Each step changes the bus and says what changed (event 0: nothing, the wait timed
    // out); when none is left, watching ends.
    std::deque<std::function<DeviceChange()>> deviceChanges;
    std::vector<std::int32_t> waitTimeouts;  // every wait's limit

    Terminal& Console() override { return terminal_; }
    CatalogueLanguage EnvironmentLanguage() override { return language; }
    bool HoldInstance() override { return holdInstance; }
    std::FILE* OpenLog(const std::string& path) override {
        logPaths.push_back(path);
        return logFile;
    }
    void RestoreLastError(std::uint32_t error) override { clock_.lastError = error; }
    bool StartWatching() override { return watchingStarts; }
    Wait WaitForDeviceChange(DeviceChange& change, std::int32_t timeoutMs) override {
        waitTimeouts.push_back(timeoutMs);
        if (deviceChanges.empty()) {
            return Wait::Failed;
        }
        change = deviceChanges.front()();
        deviceChanges.pop_front();
        return change.event == 0 ? Wait::TimedOut : Wait::Change;
    }

    bool StartThread(void (*run)(void*), void* argument) override {
        if (!threadsStart) {
            return false;
        }
        std::thread([run, argument] { run(argument); }).detach();
        return true;
    }
    SessionHold HoldOffSessionEnd(const std::wstring&) override {
        events_.push_back({CliEvent::HoldOffSessionEnd, {}});
        return sessionHold;
    }
    void AllowSessionEnd() override { events_.push_back({CliEvent::AllowSessionEnd, {}}); }

private:
    RecordingTerminal& terminal_;
    FakeClock& clock_;
    CliEvents& events_;
};
