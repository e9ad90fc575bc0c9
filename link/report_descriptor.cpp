// Walking a HID report descriptor item by item, adding up the bits of each report.
#include "link/report_descriptor.h"

#include <algorithm>
#include <array>

namespace {

enum ItemType : std::uint8_t { MAIN = 0, GLOBAL = 1, LOCAL = 2, RESERVED = 3 };

constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;

// Main item tags.
constexpr std::uint8_t TAG_INPUT = 0x8;
constexpr std::uint8_t TAG_OUTPUT = 0x9;
constexpr std::uint8_t TAG_COLLECTION = 0xA;
constexpr std::uint8_t TAG_FEATURE = 0xB;
constexpr std::uint8_t TAG_END_COLLECTION = 0xC;

// Global item tags; 0x0..0x6 (usage page, extents, unit) do not change a report's size.
constexpr std::uint8_t TAG_REPORT_SIZE = 0x7;
constexpr std::uint8_t TAG_REPORT_ID = 0x8;
constexpr std::uint8_t TAG_REPORT_COUNT = 0x9;
constexpr std::uint8_t TAG_PUSH = 0xA;
constexpr std::uint8_t TAG_POP = 0xB;

struct GlobalState {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;  // 0: no Report ID item in force
};

// Bits of each report by report id (index 0: the reports without an id).
using ReportBits = std::array<std::uint32_t, 256>;

std::uint32_t LittleEndian(const std::uint8_t* data, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = (value << 8) | data[i - 1];
    }
    return value;
}

// One length as Windows gives it: the longest report's bytes and the id byte; 0 for none.
std::uint16_t ReportLength(const ReportBits& bits) {
    const std::uint32_t longest = *std::max_element(bits.begin(), bits.end());
    return longest == 0 ? 0 : static_cast<std::uint16_t>((longest + 7) / 8 + 1);
}

}  // namespace

std::int32_t ParseReportDescriptor(const std::uint8_t* descriptor, std::size_t size,
                                   HidReportLengths& lengths) {
    if (descriptor == nullptr && size != 0) {
        return DESCRIPTOR_TRUNCATED;
    }
    ReportBits input{};
    ReportBits output{};
    ReportBits feature{};
    GlobalState state;
    std::array<GlobalState, MAX_PUSH_DEPTH> pushed;
    std::uint32_t pushDepth = 0;
    std::uint32_t collectionDepth = 0;
    bool reportIdItemSeen = false;
    bool reportWithoutIdSeen = false;

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == LONG_ITEM_PREFIX) {
            // No long item has a meaning; it is stepped over whole or not at all.
            if (size - at < 3 || size - at - 3 < descriptor[at + 1]) {
                return DESCRIPTOR_TRUNCATED;
            }
            at += 3 + std::size_t{descriptor[at + 1]};
            continue;
        }
        static constexpr std::size_t DATA_SIZES[4] = {0, 1, 2, 4};
        const std::size_t dataSize = DATA_SIZES[prefix & 0x3];
        const std::uint8_t type = (prefix >> 2) & 0x3;
        const std::uint8_t tag = prefix >> 4;
        if (size - at - 1 < dataSize) {
            return DESCRIPTOR_TRUNCATED;
        }
        const std::uint32_t value = LittleEndian(descriptor + at + 1, dataSize);
        at += 1 + dataSize;

        if (type == RESERVED) {
            return DESCRIPTOR_RESERVED_ITEM;
        }
        if (type == LOCAL) {
            continue;  // usages and the like: what a field means, not how long it is
        }
        if (type == GLOBAL) {
            switch (tag) {
            case TAG_REPORT_SIZE:
                state.reportSize = value;
                break;
            case TAG_REPORT_COUNT:
                state.reportCount = value;
                break;
            case TAG_REPORT_ID:
                if (value == 0 || value > 255) {
                    return DESCRIPTOR_BAD_REPORT_ID;
                }
                state.reportId = value;
                reportIdItemSeen = true;
                break;
            case TAG_PUSH:
                if (pushDepth == MAX_PUSH_DEPTH) {
                    return DESCRIPTOR_TOO_DEEP;
                }
                pushed[pushDepth++] = state;
                break;
            case TAG_POP:
                if (pushDepth == 0) {
                    return DESCRIPTOR_UNBALANCED;
                }
                state = pushed[--pushDepth];
                break;
            default:
                if (tag > TAG_POP) {
                    return DESCRIPTOR_RESERVED_ITEM;
                }
                break;
            }
            continue;
        }

        // A main item.
        ReportBits* bits = nullptr;
        switch (tag) {
        case TAG_INPUT:
            bits = &input;
            break;
        case TAG_OUTPUT:
            bits = &output;
            break;
        case TAG_FEATURE:
            bits = &feature;
            break;
        case TAG_COLLECTION:
            if (collectionDepth == MAX_COLLECTION_DEPTH) {
                return DESCRIPTOR_TOO_DEEP;
            }
            ++collectionDepth;
            continue;
        case TAG_END_COLLECTION:
            if (collectionDepth == 0) {
                return DESCRIPTOR_UNBALANCED;
            }
            --collectionDepth;
            continue;
        default:
            return DESCRIPTOR_RESERVED_ITEM;
        }
        // Checked before they are multiplied: the product then fits 32 bits.
        if (state.reportSize > MAX_REPORT_SIZE_BITS || state.reportCount > MAX_REPORT_COUNT) {
            return DESCRIPTOR_ABSURD_FIELD;
        }
        std::uint32_t& reportBits = (*bits)[state.reportId];
        const std::uint32_t fieldBits = state.reportSize * state.reportCount;
        if (fieldBits > MAX_REPORT_DATA_BYTES * 8 - reportBits) {
            return DESCRIPTOR_REPORT_TOO_LONG;
        }
        reportBits += fieldBits;
        reportWithoutIdSeen = reportWithoutIdSeen || state.reportId == 0;
    }

    if (collectionDepth != 0) {
        return DESCRIPTOR_UNBALANCED;
    }
    // Once a descriptor uses ids every report starts with one; a report declared without
    // one would be read with its first byte taken for an id.
    if (reportIdItemSeen && reportWithoutIdSeen) {
        return DESCRIPTOR_MIXED_REPORT_IDS;
    }
    lengths.outputReportByteLength = ReportLength(output);
    lengths.inputReportByteLength = ReportLength(input);
    return DESCRIPTOR_OK;
}
