// Output that must not hold up the command sequence. A terminal stopped with Ctrl-S, a
// console with a selection in it, or a pipe nobody reads blocks every write to it; once
// its writing thread runs, text posted here is written by that thread, so such an output
// delays only the text. Nothing posted is ever dropped, but a progress line that a newer
// one replaces while it waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "cli/terminal.h"

// Starts run(argument) on a thread of its own that nobody waits for; false when no
// thread can be had.
using ThreadStarter = std::function<bool(void (*run)(void*), void* argument)>;

// What a platform's thread entry is handed: made by NewThreadStart (null when no memory
// is left), carried out and freed by RunThreadStart on the new thread, or freed with
// delete when the thread could not be made.
struct ThreadStart {
    void (*run)(void*);
    void* argument;
};
ThreadStart* NewThreadStart(void (*run)(void*), void* argument);
void RunThreadStart(void* start);

class OutputQueue {
public:
    using WriteFunction = std::function<void(OutputStream stream, const std::string& text)>;

    OutputQueue(WriteFunction write, ThreadStarter startThread)
        : write_(std::move(write)), startThread_(std::move(startThread)) {}
    // Waits until everything posted has been written, then ends the writing thread. The
    // terminal's queue is never destroyed: at the program's end its thread may be blocked
    // in a write to an output nobody reads.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Starts the writing thread if it is not running; false when it cannot be started.
    bool Start();
    bool Started();
    // Before Start: writes the text now. After: hands it to the writing thread and never
    // waits for the output.
    void Post(OutputStream stream, std::string text);
    // As Post, for a line drawn over the one before: while it waits, a newer one posted
    // right after it takes its place.
    void PostReplaceable(OutputStream stream, std::string text);
    // Waits until everything posted has been written.
    void Drain();

    // The text an interrupt's notice writes; Notify asks the writing thread for it, and
    // may be called from a signal handler. Notices asked for while one waits are one.
    void SetNotice(OutputStream stream, std::string text);
    void Notify();

private:
    struct Entry {
        OutputStream stream;
        std::string text;
        bool replaceable;
    };
    static void RunThread(void* self);
    void Run();
    void Add(OutputStream stream, std::string text, bool replaceable);

    WriteFunction write_;
    ThreadStarter startThread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> waiting_;
    bool writing_ = false;
    bool started_ = false;
    bool stopping_ = false;
    bool stopped_ = false;
    OutputStream noticeStream_ = OutputStream::Error;
    std::string notice_;
    std::atomic<bool> noticeWanted_{false};
};

// A terminal whose text goes through a queue once the command sequence is prepared for,
// until the program has told how it ended.
class QueuedTerminal : public Terminal {
public:
    void Write(OutputStream stream, const std::string& text) final;
    void WriteProgress(const std::string& text) final;
    bool PrepareSequence() final;
    void EndOnInterrupt(const std::string& text, std::int32_t exitStatus) final;
    void RefuseInterrupt(const std::string& text) final;

protected:
    explicit QueuedTerminal(OutputQueue& queue) : queue_(queue) {}
    // The platform's part: what an interrupt does from now on. ends: write text and end
    // the program with exitStatus. Otherwise the program goes on, and notify (when set)
    // is to be called for the notice, which the queue writes.
    virtual void SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) = 0;
    OutputQueue& Queue() { return queue_; }

private:
    OutputQueue& queue_;
};
