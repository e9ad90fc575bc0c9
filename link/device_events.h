// Arrivals and removals of HID devices, for a front end that waits on a file descriptor
// (where Windows sends the window WM_DEVICECHANGE instead). An event carries the device
// path as the host lists it, so a removal can be matched with the open unit's path.
#pragma once

#include <cstdint>
#include <string>

enum class DeviceEventKind : std::int32_t {
    Arrival,
    Removal,
};

struct DeviceEvent {
    DeviceEventKind kind;
    std::wstring path;
};

class DeviceEventSource {
public:
    virtual ~DeviceEventSource() = default;
    // Becomes readable (poll, POLLIN) while an event may be waiting; -1 when the source
    // could not be set up and will never deliver one.
    virtual int WaitDescriptor() = 0;
    // Takes the next waiting event; false when none is waiting. Never blocks.
    virtual bool ReadEvent(DeviceEvent& event) = 0;
};
