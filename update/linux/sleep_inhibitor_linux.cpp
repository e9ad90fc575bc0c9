#include "update/linux/sleep_inhibitor_linux.h"

#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

namespace {

// logind answers at once; a system bus that does not must not keep the update waiting.
constexpr std::uint64_t CALL_TIMEOUT_MICROS = 5'000'000;

}  // namespace

InhibitResult TakeSleepInhibitor(const std::string& who, const std::string& why, int* lock) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) {
        return InhibitResult::Unavailable;
    }
    sd_bus_set_method_call_timeout(bus, CALL_TIMEOUT_MICROS);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    InhibitResult result = InhibitResult::Unavailable;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                           "sleep:shutdown:handle-lid-switch", who.c_str(), why.c_str(), "block") >= 0) {
        int received = -1;
        // The reply owns the descriptor it carries: the lock is a copy of it, kept from
        // any program this one starts.
        if (sd_bus_message_read(reply, "h", &received) >= 0 && received >= 0) {
            *lock = fcntl(received, F_DUPFD_CLOEXEC, 3);
            if (*lock >= 0) {
                result = InhibitResult::Held;
            }
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return result;
}

void ReleaseSleepInhibitor(int lock) {
    if (lock >= 0) {
        close(lock);
    }
}
