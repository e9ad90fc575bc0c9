#include "cli/output_queue.h"

OutputQueue::~OutputQueue() {
    if (thread_.joinable()) {
        thread_.detach();
    }
}

void OutputQueue::Post(OutputStream stream, std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waitingBytes_ + text.size() > CAPACITY) {
        return;
    }
    waitingBytes_ += text.size();
    waiting_.emplace_back(stream, std::move(text));
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Run(); });
    }
    changed_.notify_all();
}

void OutputQueue::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.empty() && !writing_; });
}

void OutputQueue::WriteNow(OutputStream stream, const std::string& text) {
    Drain();
    write_(stream, text);
}

void QueuedTerminal::Write(OutputStream stream, const std::string& text) {
    if (sequence_) {
        queue_.Post(stream, text);
    } else {
        queue_.WriteNow(stream, text);
    }
}

void QueuedTerminal::EndOnInterrupt(const std::string& text, std::int32_t exitStatus) {
    SetInterrupt(text, true, exitStatus);
    sequence_ = false;
    queue_.Drain();
}

void QueuedTerminal::RefuseInterrupt(const std::string& text) {
    SetInterrupt(text, false, 0);
    sequence_ = true;
}

void OutputQueue::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !waiting_.empty(); });
        auto [stream, text] = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= text.size();
        writing_ = true;
        lock.unlock();
        write_(stream, text);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}
