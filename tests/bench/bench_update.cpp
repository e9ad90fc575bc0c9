// One full firmware update of image 142 against a simulated unit that answers at once,
// with the platform's real waits, measured: how close the update comes to the floor of
// its fixed waits, how exact a 20 ms wait is, CPU time per exchange and memory.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/device_session.h"
#include "link/link.h"
#include "link/hid_host.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"
#include "update/image_store.h"
#include "update/update_view.h"

#ifdef _WIN32
#include "link/win32/clock_win32.h"
// After the link's headers, which name ERROR_FUNCTION_FAILED as a constant.
#include <windows.h>
#include <psapi.h>
#else
#include "link/posix/clock_posix.h"
#ifdef ORV_BENCH_QT
#include <QApplication>
#include "app/qt/qt_dialog.h"
#include "app/qt/qt_waits.h"
#endif
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <time.h>
#endif

namespace {

// The fixed waits of one update of image 142: 2037 blocks of 20 ms, and before them
// 20 (before the ESC is checked) + 20 + 20 + 1000 (erase reply) + 4000 (after the erase)
// + 20 + 20 ms.
constexpr std::uint64_t PROTOCOL_FLOOR_MS = 45840;
#ifdef _WIN32
constexpr double TARGET_RATIO = 1.01;
#else
constexpr double TARGET_RATIO = 1.002;
#endif

// Passes every call on and notes each wait: what was asked, when it began and how long
// it took. The time between one wait's end and the next one's start is the exchange's.
class MeasuringClock : public Clock {
public:
    struct Wait {
        std::uint32_t askedMs;
        std::uint64_t startMicros;
        std::uint64_t tookMicros;
    };

    explicit MeasuringClock(Clock& inner) : inner_(inner) {}

    void Sleep(std::uint32_t ms) override {
        const std::uint64_t start = inner_.NowMicros();
        inner_.Sleep(ms);
        waits.push_back({ms, start, inner_.NowMicros() - start});
    }
    std::uint64_t NowMicros() override { return inner_.NowMicros(); }
    std::uint32_t LastError() override { return inner_.LastError(); }
    void BeginUpdatePeriod() override { inner_.BeginUpdatePeriod(); }
    void EndUpdatePeriod() override { inner_.EndUpdatePeriod(); }

    std::vector<Wait> waits;

private:
    Clock& inner_;
};

// A user who answers OK and Yes and watches nothing.
class HeadlessView : public UpdateView {
public:
    void EnterPhase(UpdatePhase) override {}
    std::wstring LoadMessage(std::uint16_t) override { return L""; }
    bool AskConfirmation(const std::wstring&, const std::wstring&) override { return true; }
    bool AskYesNo(const std::wstring&, const std::wstring&) override { return true; }
    void ShowErrorBox(const std::wstring&, const std::wstring&) override { failed = true; }
    void SetStatusText(const std::wstring&) override {}
    void SetUpdateEnabled(bool) override {}
    void UpdateVersionDisplay() override {}
    void OpenProgressWindow(const std::wstring&) override {}
    void SetProgress(std::uint32_t) override {}
    void CloseProgressWindow() override {}
    void ShowChangedEsc() override {}
    bool PrepareSequence() override { return true; }

    bool failed = false;
};

#ifdef _WIN32
const char* const PLATFORM = "Windows build";

double CpuSeconds() {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

double PeakMemoryKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
}

std::string TimerKind(Win32Clock& clock) {
    return clock.HighResolution() ? "high-resolution waitable timer"
                                  : "waitable timer, timer period 1 ms during the update";
}
#else
#ifdef ORV_BENCH_QT
const char* const PLATFORM = "native build, the Qt window's waits (event loop serviced)";
#else
const char* const PLATFORM = "native build";
#endif

double CpuSeconds() {
    timespec cpu;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
}

double PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss);  // KiB on Linux
}

// Microseconds in which some runnable task waited for a processor, since boot (the
// kernel's pressure stall information); -1 where the kernel keeps none.
double CpuPressureMicros() {
    std::FILE* file = std::fopen("/proc/pressure/cpu", "r");
    if (file == nullptr) return -1;
    double total = -1;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const char* field = std::strstr(line, "total=");
        if (std::strncmp(line, "some", 4) == 0 && field != nullptr) total = std::atof(field + 6);
    }
    std::fclose(file);
    return total;
}

std::string TimerKind(PosixClock& clock) {
    return "clock_nanosleep to a CLOCK_MONOTONIC deadline, timer slack 1 ns and a " +
           std::to_string(PosixClock::UPDATE_SLICE_NANOS / 1000) +
           " us time slice during the update, the last stretch against the clock (learned from "
           "recent wake-ups, " + std::to_string(clock.FinishNanos() / 1000) + " us at the end)";
}
#endif

// The value at fraction q of the sorted values.
double Quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0.0;
    return sorted[static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1))];
}

}  // namespace

int main() {
#ifdef _WIN32
    Win32Clock platformClock;
#elif defined(ORV_BENCH_QT)
    // The window's waits run its event loop while a window is up to be painted.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "bench_update_qt";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QtDialog window(CatalogueLanguage::English, nullptr, nullptr);
    window.show();
    QtClock platformClock;
#else
    PosixClock platformClock;
#endif
    MeasuringClock clock(platformClock);
    FakeClock unitClock;  // the simulated unit answers at once and never waits
    SimHidHost host(unitClock);
    SimulatedUnit& unit = host.Plug(L"\\\\?\\hid#vid_2e6d&pid_0002#bench", SimConfig{});
    hidHost = &host;
    placeholderImagesAllowed = true;  // the simulated unit takes the build's images
    systemClock = &clock;

    deviceSession.Reset();
    const std::int32_t opened = OpenUnit(deviceSession);
    if (opened != LINK_OK) {
        std::printf("the simulated unit did not open: %d\n", opened);
        return 1;
    }
    deviceSession.accepted = true;  // as the window's connection check does
    clock.waits.clear();
    const std::size_t requestsBefore = unit.requests.size();
    // The bench's own records (the unit's request log, the list of waits) are made and
    // touched now, so that the memory rise measured below is the update's.
    unit.requests.resize(requestsBefore + 4096);
    unit.requests.resize(requestsBefore);
    clock.waits.resize(4096);
    clock.waits.clear();

    HeadlessView view;
    const double memoryBefore = PeakMemoryKiB();
    const double cpuBefore = CpuSeconds();
#ifndef _WIN32
    const double pressureBefore = CpuPressureMicros();
#endif
    const std::uint64_t start = platformClock.NowMicros();
    RunFirmwareUpdate(view);
    const std::uint64_t took = platformClock.NowMicros() - start;
    const double cpu = CpuSeconds() - cpuBefore;
    const double memoryRise = PeakMemoryKiB() - memoryBefore;
#ifndef _WIN32
    const double pressureAfter = CpuPressureMicros();
#endif

    const FirmwareImage image = LoadFirmwareImage(IMAGE_RESOURCE_ID);
    const bool written = !view.failed && image.bytes != nullptr && unit.flash.size() >= image.size &&
                         std::equal(image.bytes, image.bytes + image.size, unit.flash.begin());
    const std::size_t exchanges = unit.requests.size() - requestsBefore;

    std::uint64_t floorMs = 0;
    std::size_t shorter = 0;
    std::size_t stepWaits = 0;
    double overshootSum = 0;
    double overshootMax = 0;
    double allOvershoot = 0;  // of every wait, the long ones too
    // Waits that ended more than a millisecond late: the processor was someone else's
    // for longer than any margin of the clock's covers.
    constexpr double LATE_MICROS = 1000;
    std::size_t lateWaits = 0;
    double lateOvershoot = 0;
    std::vector<double> overshoots;
    // What the update did between its waits: the exchanges with the unit, and the
    // measuring itself. Before the first wait and after the last there is one exchange
    // each as well.
    std::vector<double> between;
    std::uint64_t previousEnd = start;
    for (const MeasuringClock::Wait& wait : clock.waits) {
        between.push_back(static_cast<double>(wait.startMicros - previousEnd));
        previousEnd = wait.startMicros + wait.tookMicros;
        floorMs += wait.askedMs;
        const double over = static_cast<double>(wait.tookMicros) - 1000.0 * wait.askedMs;
        shorter += over < 0;
        allOvershoot += over;
        if (over > LATE_MICROS) {
            ++lateWaits;
            lateOvershoot += over;
        }
        if (wait.askedMs == STEP_DELAY_MS) {
            ++stepWaits;
            overshootSum += over;
            overshootMax = std::max(overshootMax, over);
            overshoots.push_back(over);
        }
    }
    between.push_back(static_cast<double>(start + took - previousEnd));
    double betweenSum = 0;
    for (double micros : between) betweenSum += micros;
    std::sort(between.begin(), between.end());
    const double totalSeconds = static_cast<double>(took) / 1e6;
    const double floorSeconds = static_cast<double>(floorMs) / 1e3;
    const double ratio = totalSeconds / floorSeconds;
    const bool met = written && floorMs == PROTOCOL_FLOOR_MS && ratio <= TARGET_RATIO && shorter == 0;

    std::printf("update benchmark, %s (%s)\n", PLATFORM, TimerKind(platformClock).c_str());
    std::printf("  update                    %s, %zu exchanges, image %u bytes\n",
                written ? "succeeded, image written exactly" : "FAILED", exchanges, image.size);
    std::printf("  total time                %.3f s\n", totalSeconds);
    std::printf("  protocol floor            %.3f s (%zu fixed waits; expected %.3f s)\n", floorSeconds,
                clock.waits.size(), static_cast<double>(PROTOCOL_FLOOR_MS) / 1e3);
    std::printf("  ratio                     %.4f (target <= %.3f)\n", ratio, TARGET_RATIO);
    std::printf("  20 ms wait overshoot      mean %.1f us, largest %.1f us (%zu waits)\n",
                stepWaits ? overshootSum / static_cast<double>(stepWaits) : 0.0, overshootMax, stepWaits);
    // The median shows the clock; the mean and the largest also what else took the processor.
    std::sort(overshoots.begin(), overshoots.end());
    std::printf("                            median %.1f us, 99th percentile %.1f us\n",
                Quantile(overshoots, 0.5), Quantile(overshoots, 0.99));
    // Where the time over the floor went: the waits ending late, or the work between them.
    std::printf("  time over the floor       %.1f ms: waits' overshoot %.1f ms, between waits %.1f ms\n",
                (totalSeconds - floorSeconds) * 1e3, allOvershoot / 1e3, betweenSum / 1e3);
    std::printf("                            of the overshoot, %.1f ms in %zu waits over %.0f ms late\n",
                lateOvershoot / 1e3, lateWaits, LATE_MICROS / 1e3);
    std::printf("  time between waits        median %.1f us, 99th percentile %.1f us, largest %.1f us\n",
                Quantile(between, 0.5), Quantile(between, 0.99), between.empty() ? 0.0 : between.back());
    std::printf("  CPU time per exchange     %.1f us (%.3f s in all)\n",
                exchanges ? cpu * 1e6 / static_cast<double>(exchanges) : 0.0, cpu);
    std::printf("  peak memory rise          %.0f KiB\n", memoryRise);
    std::printf("  waits shorter than asked  %zu\n", shorter);
#ifndef _WIN32
    // How busy the machine was (this update's own thread counted): tasks wanting the
    // processors make waits end late.
    if (pressureBefore >= 0 && pressureAfter >= 0) {
        std::printf("  processor pressure        some task waited for a processor %.1f %% of the time\n",
                    100.0 * (pressureAfter - pressureBefore) / static_cast<double>(took));
    }
#endif
    std::printf("  target                    %s\n", met ? "met" : "NOT met");
    deviceSession.Reset();
    return written && floorMs == PROTOCOL_FLOOR_MS ? (met ? 0 : 2) : 1;
}
