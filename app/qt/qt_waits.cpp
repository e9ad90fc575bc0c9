#include "app/qt/qt_waits.h"

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace {

constexpr std::int64_t NANOS_PER_MS = 1'000'000;
// The end of a wait is slept plainly: a timer of the event loop may fire a millisecond
// or more late, and a wait must not.
constexpr std::int64_t PLAIN_END_NANOS = 2 * NANOS_PER_MS;
// A wait for the unit looks again at least this often: a hang-up is not always told to
// a write notifier.
constexpr int LONGEST_LOOP_MS = 50;

// Runs the event loop, user input excluded, until quit or ms have passed.
void RunLoopFor(int ms, QEventLoop& loop) {
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

void QtClock::SleepUntil(std::int64_t wakeUpNanos) {
    if (QCoreApplication::instance() != nullptr) {
        for (;;) {
            const std::int64_t left = wakeUpNanos - MonotonicNanos() - PLAIN_END_NANOS;
            if (left < NANOS_PER_MS) {
                break;
            }
            QEventLoop loop;
            RunLoopFor(static_cast<int>(left / NANOS_PER_MS), loop);
        }
    }
    PosixClock::SleepUntil(wakeUpNanos);
}

int PollServicingWindows(pollfd* entries, nfds_t count, int timeoutMs) {
    const int ready = ::poll(entries, count, 0);
    if (ready != 0 || timeoutMs == 0 || QCoreApplication::instance() == nullptr) {
        return ready != 0 || timeoutMs == 0 ? ready : ::poll(entries, count, timeoutMs);
    }
    QEventLoop loop;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    for (nfds_t i = 0; i < count; ++i) {
        for (const auto& [events, type] : {std::pair{POLLIN, QSocketNotifier::Read},
                                          std::pair{POLLOUT, QSocketNotifier::Write}}) {
            if ((entries[i].events & events) != 0) {
                notifiers.push_back(std::make_unique<QSocketNotifier>(entries[i].fd, type));
                QObject::connect(notifiers.back().get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            }
        }
    }
    RunLoopFor(timeoutMs < 0 || timeoutMs > LONGEST_LOOP_MS ? LONGEST_LOOP_MS : timeoutMs, loop);
    notifiers.clear();
    // What is ready now; 0 sends the caller round again against its own deadline.
    return ::poll(entries, count, 0);
}
