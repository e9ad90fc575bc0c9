// The report lengths a HID report descriptor gives, counted as Windows counts them, for
// platforms that hand the program the descriptor instead of the lengths. The descriptor
// comes from the device, so every byte of it is distrusted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/hid_host.h"

// Results of ParseReportDescriptor; lengths are set on DESCRIPTOR_OK only.
constexpr std::int32_t DESCRIPTOR_OK = 0;
constexpr std::int32_t DESCRIPTOR_TRUNCATED = -1;         // an item runs past the end
constexpr std::int32_t DESCRIPTOR_RESERVED_ITEM = -2;     // an item type or tag with no meaning
constexpr std::int32_t DESCRIPTOR_BAD_REPORT_ID = -3;     // report id 0 or above 255
constexpr std::int32_t DESCRIPTOR_MIXED_REPORT_IDS = -4;  // reports both with and without an id
constexpr std::int32_t DESCRIPTOR_ABSURD_FIELD = -5;      // report size or count past the limits
constexpr std::int32_t DESCRIPTOR_REPORT_TOO_LONG = -6;   // a report longer than MAX_REPORT_DATA_BYTES
constexpr std::int32_t DESCRIPTOR_UNBALANCED = -7;        // End Collection or Pop without a partner,
                                                          // or a collection left open
constexpr std::int32_t DESCRIPTOR_TOO_DEEP = -8;          // collections or pushes nested too deeply

// The limits, those of the Linux HID core where it has one: nothing beyond them can be
// transferred, so a descriptor that declares more is broken or hostile.
constexpr std::uint32_t MAX_REPORT_SIZE_BITS = 256;
constexpr std::uint32_t MAX_REPORT_COUNT = 12288;
constexpr std::uint32_t MAX_REPORT_DATA_BYTES = 16384;
constexpr std::uint32_t MAX_COLLECTION_DEPTH = 32;
constexpr std::uint32_t MAX_PUSH_DEPTH = 8;

// The largest output and input report of the descriptor in bytes, plus one for the
// report id byte (which Windows counts whether or not the descriptor uses ids); 0 for a
// kind of report the descriptor has none of. Feature reports are checked, not counted.
// Long items are stepped over; local items do not matter for the lengths.
std::int32_t ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size,
                                   HidReportLengths& lengths);
