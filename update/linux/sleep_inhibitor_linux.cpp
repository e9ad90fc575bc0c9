#include "update/linux/sleep_inhibitor_linux.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

namespace {

// logind answers at once. The whole exchange, connecting and authenticating included, is
// bounded: a system bus that does not answer must not keep the update waiting.
constexpr std::uint64_t DEADLINE_MICROS = 5'000'000;

std::uint64_t NowMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

struct Call {
    bool done = false;
    InhibitResult result = InhibitResult::Refused;
    int lock = -1;
};

int OnReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    Call& call = *static_cast<Call*>(userdata);
    call.done = true;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        // No logind on the bus: nothing here can hold sleep off. Anything else is logind
        // (or the bus) saying no.
        if (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.ServiceUnknown") ||
            sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.NameHasNoOwner")) {
            call.result = InhibitResult::Unavailable;
        }
        return 0;
    }
    int received = -1;
    // The reply owns the descriptor it carries: the lock is a copy of it, kept from any
    // program this one starts.
    if (sd_bus_message_read(reply, "h", &received) >= 0 && received >= 0) {
        call.lock = fcntl(received, F_DUPFD_CLOEXEC, 3);
        if (call.lock >= 0) {
            call.result = InhibitResult::Held;
        }
    }
    return 0;
}

}  // namespace

InhibitResult TakeSleepInhibitor(const std::string& who, const std::string& why, int* lock) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return InhibitResult::Unavailable;
    }
    Call call;
    sd_bus_slot* slot = nullptr;
    const int sent = sd_bus_call_method_async(bus, &slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                                              "org.freedesktop.login1.Manager", "Inhibit", OnReply, &call, "ssss",
                                              "sleep:shutdown:handle-lid-switch", who.c_str(), why.c_str(), "block");
    if (sent < 0) {
        // The connection could not even be begun (no socket there): no system bus.
        sd_bus_close_unref(bus);
        return sent == -ENOENT || sent == -ECONNREFUSED ? InhibitResult::Unavailable : InhibitResult::Refused;
    }
    const std::uint64_t deadline = NowMicros() + DEADLINE_MICROS;
    bool busGone = false;
    while (!call.done) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) {
            busGone = true;
            break;
        }
        if (processed > 0) {
            continue;
        }
        const std::uint64_t now = NowMicros();
        if (now >= deadline || sd_bus_wait(bus, deadline - now) < 0) {
            break;
        }
    }
    sd_bus_slot_unref(slot);
    sd_bus_close_unref(bus);
    if (!call.done) {
        // A bus whose socket is missing or refuses fails while connecting: no system bus.
        return busGone ? InhibitResult::Unavailable : InhibitResult::Refused;
    }
    if (call.result == InhibitResult::Held) {
        *lock = call.lock;
    }
    return call.result;
}

void ReleaseSleepInhibitor(int lock) {
    if (lock >= 0) {
        close(lock);
    }
}
