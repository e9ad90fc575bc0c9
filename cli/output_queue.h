// Output that must not hold up the command sequence. A terminal stopped with Ctrl-S, a
// console with a selection in it, or a pipe nobody reads blocks every write to it; text
// posted here is written by a thread of its own, so such an output delays only the text.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "cli/terminal.h"

class OutputQueue {
public:
    using WriteFunction = std::function<void(OutputStream stream, const std::string& text)>;

    // Text beyond this much waiting is dropped: it can only be progress nobody sees.
    static constexpr std::size_t CAPACITY = 64 * 1024;

    explicit OutputQueue(WriteFunction write) : write_(std::move(write)) {}
    // The writing thread is left to the end of the process: it may be blocked in a write
    // that never returns, and the program must still end.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Hands text to the writing thread; never waits for the output.
    void Post(OutputStream stream, std::string text);
    // Waits until everything posted has been written.
    void Drain();
    // Writes text now, after everything posted before it.
    void WriteNow(OutputStream stream, const std::string& text);

private:
    void Run();

    WriteFunction write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<OutputStream, std::string>> waiting_;
    std::size_t waitingBytes_ = 0;
    bool writing_ = false;
    std::thread thread_;
};

// A terminal whose text goes through a queue while the command sequence runs (while an
// interrupt is refused), and is written directly otherwise.
class QueuedTerminal : public Terminal {
public:
    void Write(OutputStream stream, const std::string& text) final;
    void EndOnInterrupt(const std::string& text, std::int32_t exitStatus) final;
    void RefuseInterrupt(const std::string& text) final;

protected:
    explicit QueuedTerminal(OutputQueue& queue) : queue_(queue) {}
    // The platform's part: what an interrupt does from now on (ends: write text, end the
    // program with exitStatus; otherwise write text and go on).
    virtual void SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) = 0;

private:
    bool sequence_ = false;
    OutputQueue& queue_;
};
