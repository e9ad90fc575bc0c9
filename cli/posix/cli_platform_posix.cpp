#include "cli/posix/cli_platform_posix.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "app/dialog_phase.h"
#include "app/status_flow.h"
#include "res/language.h"
#include "link/posix/instance_lock_posix.h"
#include "cli/terminal_text.h"
#include "link/posix/last_error_posix.h"
#include "update/linux/sleep_inhibitor_linux.h"

namespace {

// What an interrupt does, read by the handler: written only with the signals blocked.
constexpr std::size_t INTERRUPT_TEXT_CAPACITY = 1024;
char interruptText[INTERRUPT_TEXT_CAPACITY];
volatile std::sig_atomic_t interruptTextLength = 0;
volatile std::sig_atomic_t interruptEnds = 1;
volatile std::sig_atomic_t interruptExitStatus = 130;

// Ctrl-C, Ctrl-\, the terminal closing and a plain kill.
constexpr int INTERRUPTS[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

void WriteAll(int fd, const char* text, std::size_t length) {
    while (length != 0) {
        const ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

OutputQueue& TheOutputQueue();

void OnInterrupt(int) {
    const int savedErrno = errno;
    if (interruptEnds) {
        WriteAll(STDERR_FILENO, interruptText, static_cast<std::size_t>(interruptTextLength));
        _exit(interruptExitStatus);
    }
    // A refused interrupt's notice is written by the queue's thread: a write from here
    // would wait for a stopped terminal in the middle of the sequence.
    TheOutputQueue().Notify();
    errno = savedErrno;
}

// Writes the whole text, whatever the output does meanwhile.
void WriteStream(OutputStream stream, const std::string& text) {
    WriteAll(stream == OutputStream::Out ? STDOUT_FILENO : STDERR_FILENO, text.data(), text.size());
}

// Never destroyed: its thread may be blocked in a write when the program ends.
OutputQueue& TheOutputQueue() {
    static OutputQueue* queue = new OutputQueue(WriteStream, StartPosixThread);
    return *queue;
}

// The set of INTERRUPTS.
sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : INTERRUPTS) {
        sigaddset(&set, signal);
    }
    return set;
}

void SetInterruptAction(const std::string& text, bool ends, std::int32_t exitStatus) {
    const sigset_t blocked = InterruptSet();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &blocked, &before);
    const std::size_t length = std::min(text.size(), INTERRUPT_TEXT_CAPACITY);
    std::memcpy(interruptText, text.data(), length);
    interruptTextLength = static_cast<std::sig_atomic_t>(length);
    interruptEnds = ends ? 1 : 0;
    interruptExitStatus = exitStatus;
    // Stopping the program in the middle of the sequence (Ctrl-Z, or a background job
    // touching its terminal) would hold the unit half-written for as long as nobody
    // resumes it.
    for (const int stop : {SIGTSTP, SIGTTOU, SIGTTIN}) {
        std::signal(stop, ends ? SIG_DFL : SIG_IGN);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

bool StartPosixThread(void (*run)(void*), void* argument) {
    ThreadStart* start = NewThreadStart(run, argument);
    if (start == nullptr) {
        return false;
    }
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // The interrupts are the main thread's to take: blocked here before the thread
    // starts, so it inherits the mask and a handler never runs on it.
    const sigset_t blocked = InterruptSet();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    pthread_t thread;
    const int created = pthread_create(
        &thread, &attributes,
        [](void* opaque) -> void* {
            RunThreadStart(opaque);
            return nullptr;
        },
        start);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete start;
        errno = created;
        return false;
    }
    return true;
}

void EnsureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
}

PosixTerminal::PosixTerminal() : QueuedTerminal(TheOutputQueue()) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    action.sa_mask = InterruptSet();
    for (const int signal : INTERRUPTS) {
        sigaction(signal, &action, nullptr);
    }
    // A closed pipe on the output, or a log at the file-size limit, must not end the
    // program in the middle of an update: the write fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool PosixTerminal::InputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool PosixTerminal::OutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool PosixTerminal::ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        char c;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;  // an answer the user did not finish with Enter is none
        }
        if (c == '\n') {
            return true;
        }
        line += c;
    }
}

void PosixTerminal::DiscardInput() {
    // Only from the foreground: a background job would be stopped by the attempt.
    if (isatty(STDIN_FILENO) == 1 && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

void PosixTerminal::SetInterrupt(const std::string& text, bool ends, std::int32_t exitStatus) {
    SetInterruptAction(text, ends, exitStatus);
}

CatalogueLanguage PosixCliPlatform::EnvironmentLanguage() {
    return LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

bool PosixCliPlatform::HoldInstance() {
    return HoldInstanceLock(lockName_, lockFile_) != InstanceLock::HeldByAnother;
}

std::FILE* PosixCliPlatform::OpenLog(const std::string& path) {
    return std::fopen(path.c_str(), "we");
}

bool PosixCliPlatform::StartThread(void (*run)(void*), void* argument) {
    return StartPosixThread(run, argument);
}

CliPlatform::SessionHold PosixCliPlatform::HoldOffSessionEnd(const std::wstring& reason) {
    ReleaseSleepInhibitor(inhibitor_);
    inhibitor_ = -1;
    switch (TakeSleepInhibitor(SLEEP_INHIBITOR_WHO, TerminalUtf8(reason), &inhibitor_)) {
    case InhibitResult::Held:
        return SessionHold::Held;
    case InhibitResult::Unavailable:
        return SessionHold::Unavailable;
    case InhibitResult::Refused:
        break;
    }
    return SessionHold::Failed;
}

void PosixCliPlatform::AllowSessionEnd() {
    ReleaseSleepInhibitor(inhibitor_);
    inhibitor_ = -1;
}

void PosixCliPlatform::RestoreLastError(std::uint32_t error) {
    SetPosixLastError(static_cast<int>(error));
}

CliPlatform::Wait PosixCliPlatform::WaitForEvent(DeviceEventSource& source, DeviceChange& change,
                                                 std::int32_t timeoutMs) {
    const int fd = source.WaitDescriptor();
    if (fd < 0) {
        return Wait::Failed;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        DeviceEvent event;
        if (source.ReadEvent(event)) {
            change = ChangeOf(event);
            return Wait::Change;
        }
        int left = -1;
        if (timeoutMs >= 0) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long long passed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1'000'000;
            if (passed >= timeoutMs) {
                return Wait::TimedOut;
            }
            left = static_cast<int>(timeoutMs - passed);
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, left);
        if (ready < 0 && errno != EINTR) {
            return Wait::Failed;
        }
        if (ready > 0 && (entry.revents & (POLLERR | POLLNVAL)) != 0) {
            return Wait::Failed;
        }
    }
}

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}
