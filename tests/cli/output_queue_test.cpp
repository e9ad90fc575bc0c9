// The queue the terminal's text and the exchange log go through during the command
// sequence: an output that does not take text (a stopped terminal, a pipe nobody reads)
// holds up nothing but the text, and loses none of it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/output_queue.h"

namespace {

// An output that takes text only while it is open, as a terminal after Ctrl-S and Ctrl-Q.
class GatedOutput {
public:
    void Write(OutputStream stream, const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++writesBegun_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        written_.push_back((stream == OutputStream::Out ? "out:" : "err:") + text);
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    void WaitForWrites(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return writesBegun_ >= count; });
    }
    std::vector<std::string> Written() {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int writesBegun_ = 0;
    std::vector<std::string> written_;
};

bool StartStdThread(void (*run)(void*), void* argument) {
    std::thread(run, argument).detach();
    return true;
}

TEST(OutputQueue, BeforeItsThreadStartsTextIsWrittenAtOnce) {
    GatedOutput output;
    OutputQueue queue([&](OutputStream s, const std::string& t) { output.Write(s, t); }, StartStdThread);
    queue.Post(OutputStream::Out, "a");
    queue.PostReplaceable(OutputStream::Out, "\r1%");
    EXPECT_EQ(output.Written(), (std::vector<std::string>{"out:a", "out:\r1%"}));
}

// While the output is stopped only the newest of the progress lines in a row waits; every
// other text waits in full, in order, and is all written once the output takes text again.
TEST(OutputQueue, StoppedOutputLosesNothingButOvertakenProgress) {
    GatedOutput output;
    {
        OutputQueue queue([&](OutputStream s, const std::string& t) { output.Write(s, t); }, StartStdThread);
        ASSERT_TRUE(queue.Start());
        output.Close();
        queue.Post(OutputStream::Out, "caption\n");
        output.WaitForWrites(1);  // the writer is held in the write of the caption
        for (int percent = 1; percent <= 50; ++percent) {
            queue.PostReplaceable(OutputStream::Out, "\r" + std::to_string(percent) + "%");
        }
        queue.Post(OutputStream::Error, std::string(200000, 'x'));  // far beyond any pipe's buffer
        queue.PostReplaceable(OutputStream::Out, "\r99%");
        queue.PostReplaceable(OutputStream::Out, "\r100%");
        queue.Post(OutputStream::Out, "\nsucceeded\n");
        output.Open();
        queue.Drain();
        EXPECT_EQ(output.Written(), (std::vector<std::string>{"out:caption\n", "out:\r50%", "err:" + std::string(200000, 'x'),
                                                               "out:\r100%", "out:\nsucceeded\n"}));
    }
}

// A queue that goes out of scope writes everything first: the log's last line is never lost.
TEST(OutputQueue, DestroyedOnlyOnceEverythingIsWritten) {
    GatedOutput output;
    std::thread opener;
    {
        OutputQueue queue([&](OutputStream s, const std::string& t) { output.Write(s, t); }, StartStdThread);
        ASSERT_TRUE(queue.Start());
        output.Close();
        queue.Post(OutputStream::Out, "first\n");
        queue.Post(OutputStream::Out, "last\n");
        output.WaitForWrites(1);
        opener = std::thread([&] { output.Open(); });
    }
    opener.join();
    EXPECT_EQ(output.Written(), (std::vector<std::string>{"out:first\n", "out:last\n"}));
}

// A notice an interrupt asks for (from a signal handler: a flag only) is written by the
// queue's thread; several asked for while one waits are one.
TEST(OutputQueue, NoticeAskedForIsWrittenByTheThread) {
    GatedOutput output;
    OutputQueue* queue = new OutputQueue([&](OutputStream s, const std::string& t) { output.Write(s, t); },
                                         StartStdThread);
    queue->SetNotice(OutputStream::Error, "do not interrupt\n");
    queue->Notify();
    queue->Notify();
    ASSERT_TRUE(queue->Start());
    output.WaitForWrites(1);
    queue->Drain();
    EXPECT_EQ(output.Written(), std::vector<std::string>{"err:do not interrupt\n"});
    delete queue;
}

TEST(OutputQueue, WithoutAThreadItRefusesToStart) {
    GatedOutput output;
    OutputQueue queue([&](OutputStream s, const std::string& t) { output.Write(s, t); },
                      [](void (*)(void*), void*) { return false; });
    EXPECT_FALSE(queue.Start());
    EXPECT_FALSE(queue.Started());
    queue.Post(OutputStream::Out, "still written\n");
    EXPECT_EQ(output.Written(), std::vector<std::string>{"out:still written\n"});
}

}  // namespace
