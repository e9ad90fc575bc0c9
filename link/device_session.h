// The one record of the open programming unit.
#pragma once

#include <cstdint>
#include <memory>

#include "link/reports.h"

// What the identification learns of the unit and of the ESC behind it.
struct UnitIdentity {
    std::uint8_t unitMode = 0;
    std::uint32_t unitFirmwareVersion = 0;
    std::uint32_t unitInfoWord = 0;
    std::uint16_t escState = 0;
    std::uint16_t escAuxWord = 0;
    UnitBootInfo unitBootInfo{};
    EscAppInfo escAppInfo{};
    EscBootInfo escBootInfo{};
};

// The one record of the open programming unit, with the identity of the unit and the ESC
// as the identification found them. handle -1: no unit open.
struct DeviceSession : UnitIdentity {
    DeviceHandle handle = NO_DEVICE_HANDLE;
    std::unique_ptr<wchar_t[]> devicePath;
    std::uint32_t outReportLength = 0;
    std::uint32_t inReportLength = 0;
    std::uint16_t productId = 0;
    // Which opening of a unit this record holds (0: none). A unit given up and found
    // again, or another unit in its place, has a new number, even on the same path.
    std::uint32_t openSerial = 0;
    // Set by the window's connection check once it has accepted the unit and the ESC
    // behind it; an update runs on no other unit.
    bool accepted = false;

    // Closes the handle if one is open, frees the path, zeroes every field and sets
    // handle to -1. Every path that gives the unit up goes through here.
    void Reset();
};

extern DeviceSession deviceSession;
