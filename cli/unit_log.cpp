#include "cli/unit_log.h"

#include <cstdio>
#include <ctime>

#include "cli/terminal_text.h"

namespace {

std::string Number(std::uint32_t value, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string HexBytes(const std::uint8_t* bytes, std::uint32_t length) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (i != 0) {
            out += ' ';
        }
        out += DIGITS[bytes[i] >> 4];
        out += DIGITS[bytes[i] & 0xF];
    }
    return out;
}

LoggingHidHost::LoggingHidHost(HidHost& inner, OutputQueue& log, Clock& clock, void (*restoreLastError)(std::uint32_t))
    : inner_(inner), log_(log), clock_(clock), restoreLastError_(restoreLastError), startMicros_(clock.NowMicros()) {
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* utc = std::gmtime(&now)) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    }
    log_.Post(OutputStream::Out,
              std::string("# orvanta-cli exchange log, begun ") + when + "; times in seconds since then\n");
}

void LoggingHidHost::Keep() {
    error_ = clock_.LastError();
}

void LoggingHidHost::Line(const std::string& text, bool failed) {
    const std::uint32_t error = error_;
    const std::uint64_t micros = clock_.NowMicros() - startMicros_;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%6llu.%06llu ", static_cast<unsigned long long>(micros / 1'000'000),
                  static_cast<unsigned long long>(micros % 1'000'000));
    log_.Post(OutputStream::Out,
              seconds + text + (failed ? " failed, error " + Number(error, "0x%08x") : std::string()) + "\n");
    restoreLastError_(error);
}

HidInterfaceList* LoggingHidHost::GetInterfaceList() {
    HidInterfaceList* list = inner_.GetInterfaceList();
    Keep();
    Line("list HID interfaces", list == nullptr);
    return list;
}

bool LoggingHidHost::HasInterface(HidInterfaceList* list, std::uint32_t index) {
    return inner_.HasInterface(list, index);
}

bool LoggingHidHost::GetInterfacePath(HidInterfaceList* list, std::uint32_t index, std::wstring& path) {
    const bool ok = inner_.GetInterfacePath(list, index, path);
    Keep();
    Line("interface " + std::to_string(index) + (ok ? ": " + TerminalUtf8(path) : std::string()), !ok);
    return ok;
}

void LoggingHidHost::DestroyInterfaceList(HidInterfaceList* list) {
    inner_.DestroyInterfaceList(list);
}

bool LoggingHidHost::GetListedAttributes(HidInterfaceList* list, std::uint32_t index, HidAttributes& attributes) {
    const bool ok = inner_.GetListedAttributes(list, index, attributes);
    Keep();
    if (ok) {
        Line("interface " + std::to_string(index) + " ids " + Number(attributes.vendorId, "%04x") + ":" +
                 Number(attributes.productId, "%04x"),
             false);
    }
    return ok;
}

DeviceHandle LoggingHidHost::Open(const std::wstring& path) {
    const DeviceHandle handle = inner_.Open(path);
    Keep();
    const bool failed = handle == NO_DEVICE_HANDLE;
    const char* why = !failed                   ? ""
                      : inner_.LastOpenDenied() ? " (no permission)"
                      : inner_.LastOpenBusy()   ? " (in use by another program)"
                                                : "";
    Line("open " + TerminalUtf8(path) + why, failed);
    return handle;
}

bool LoggingHidHost::LastOpenDenied() {
    return inner_.LastOpenDenied();
}

bool LoggingHidHost::LastOpenBusy() {
    return inner_.LastOpenBusy();
}

bool LoggingHidHost::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    const bool ok = inner_.GetAttributes(handle, attributes);
    Keep();
    Line("ids" + (ok ? " " + Number(attributes.vendorId, "%04x") + ":" + Number(attributes.productId, "%04x")
                     : std::string()),
         !ok);
    return ok;
}

bool LoggingHidHost::GetReportLengths(DeviceHandle handle, HidReportLengths& lengths) {
    const bool ok = inner_.GetReportLengths(handle, lengths);
    Keep();
    Line("report lengths" + (ok ? " out " + std::to_string(lengths.outputReportByteLength) + ", in " +
                                      std::to_string(lengths.inputReportByteLength)
                                : std::string()),
         !ok);
    return ok;
}

bool LoggingHidHost::Write(DeviceHandle handle, const std::uint8_t* report, std::uint32_t length,
                           std::uint32_t timeoutMs) {
    const bool ok = inner_.Write(handle, report, length, timeoutMs);
    Keep();
    Line("> " + HexBytes(report, length), !ok);
    return ok;
}

bool LoggingHidHost::Read(DeviceHandle handle, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    const bool ok = inner_.Read(handle, report, length, timeoutMs);
    Keep();
    Line(ok ? "< " + HexBytes(report, length) : std::string("< (no reply)"), !ok);
    return ok;
}

void LoggingHidHost::Close(DeviceHandle handle) {
    inner_.Close(handle);
    Keep();
    Line("close", false);
}
