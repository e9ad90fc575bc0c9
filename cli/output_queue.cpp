#include "cli/output_queue.h"

#include <chrono>
#include <new>

namespace {

// How often the writing thread looks for a notice an interrupt asked for: a signal
// handler can set a flag, but not wake a thread that waits on a condition.
constexpr std::chrono::milliseconds NOTICE_POLL{50};

}  // namespace

OutputQueue::~OutputQueue() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
        return;
    }
    changed_.wait(lock, [this] { return waiting_.empty() && !writing_; });
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return stopped_; });
}

ThreadStart* NewThreadStart(void (*run)(void*), void* argument) {
    return new (std::nothrow) ThreadStart{run, argument};
}

void RunThreadStart(void* opaque) {
    const ThreadStart start = *static_cast<ThreadStart*>(opaque);
    delete static_cast<ThreadStart*>(opaque);
    start.run(start.argument);
}

bool OutputQueue::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) {
        return true;
    }
    started_ = startThread_ && startThread_(RunThread, this);
    return started_;
}

bool OutputQueue::Started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

void OutputQueue::Post(OutputStream stream, std::string text) {
    Add(stream, std::move(text), false);
}

void OutputQueue::PostReplaceable(OutputStream stream, std::string text) {
    Add(stream, std::move(text), true);
}

void OutputQueue::Add(OutputStream stream, std::string text, bool replaceable) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) {
        lock.unlock();
        write_(stream, text);
        return;
    }
    if (replaceable && !waiting_.empty() && waiting_.back().replaceable && waiting_.back().stream == stream) {
        waiting_.back().text = std::move(text);
    } else {
        waiting_.push_back({stream, std::move(text), replaceable});
    }
    changed_.notify_all();
}

void OutputQueue::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !writing_; });
}

void OutputQueue::SetNotice(OutputStream stream, std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    noticeStream_ = stream;
    notice_ = std::move(text);
}

void OutputQueue::Notify() {
    noticeWanted_.store(true);
}

void OutputQueue::RunThread(void* self) {
    static_cast<OutputQueue*>(self)->Run();
}

void OutputQueue::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (noticeWanted_.exchange(false) && !notice_.empty()) {
            waiting_.push_back({noticeStream_, notice_, false});
        }
        if (waiting_.empty()) {
            if (stopping_) {
                stopped_ = true;
                changed_.notify_all();
                return;
            }
            changed_.wait_for(lock, NOTICE_POLL);
            continue;
        }
        Entry entry = std::move(waiting_.front());
        waiting_.pop_front();
        writing_ = true;
        lock.unlock();
        write_(entry.stream, entry.text);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

void QueuedTerminal::Write(OutputStream stream, const std::string& text) {
    queue_.Post(stream, text);
}

void QueuedTerminal::WriteProgress(const std::string& text) {
    queue_.PostReplaceable(OutputStream::Out, text);
}

bool QueuedTerminal::PrepareSequence() {
    return queue_.Start();
}

void QueuedTerminal::EndOnInterrupt(const std::string& text, std::int32_t exitStatus) {
    // Everything told so far is out before an interrupt may end the program.
    queue_.Drain();
    SetInterrupt(text, true, exitStatus);
}

void QueuedTerminal::RefuseInterrupt(const std::string& text) {
    queue_.SetNotice(OutputStream::Error, text);
    SetInterrupt(text, false, 0);
}
