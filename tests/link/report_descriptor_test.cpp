// Report lengths from HID report descriptors, as Windows gives them, and descriptors
// that are refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/report_descriptor.h"

namespace {

// "06 00 FF 09 01" to bytes; spaces are for the reader.
std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits.push_back(c);
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<std::uint8_t> Repeat(const std::string& item, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += item;
    return Hex(text);
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> bytes;
    for (const auto& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

// The programming unit's: vendor page, report 1 out and report 2 in, 59 bytes each.
const std::string UNIT =
    "06 00 FF 09 01 A1 01"
    " 85 01 09 01 15 00 26 FF 00 75 08 95 3B 91 02"
    " 85 02 09 01 95 3B 81 02 C0";

// The boot keyboard of the HID class definition: 8 modifier bits, a reserved byte and six
// key codes in; five LEDs and three bits of padding out.
const std::string KEYBOARD =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01"
    " 95 05 75 01 05 08 19 01 29 05 91 02 95 01 75 03 91 01 95 06 75 08 15 00 25 65"
    " 05 07 19 00 29 65 81 00 C0";

// The boot mouse: three buttons, five bits of padding, X and Y; a physical collection
// inside the application collection.
const std::string MOUSE =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02"
    " 95 01 75 05 81 01 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 C0 C0";

// A keyboard with media keys and a vendor feature report: three application collections,
// report ids 1 to 3.
const std::string COMPOSITE =
    "05 01 09 06 A1 01 85 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02"
    " 95 06 75 08 26 FF 00 19 00 2A FF 00 81 00 95 05 75 01 05 08 19 01 29 05 91 02"
    " 95 01 75 03 91 01 C0"
    " 05 0C 09 01 A1 01 85 02 15 00 26 FF 03 19 00 2A FF 03 75 10 95 01 81 00 C0"
    " 06 00 FF 09 01 A1 01 85 03 75 08 95 20 B1 02 C0";

struct LengthCase {
    const char* name;
    std::vector<std::uint8_t> descriptor;
    std::uint16_t output;
    std::uint16_t input;
};

TEST(ReportDescriptorTest, LengthsAreTheLongestReportAndItsIdByte) {
    const LengthCase cases[] = {
        {"the unit: a 60-byte pair with ids 1 and 2", Hex(UNIT), 60, 60},
        {"reports without ids: 64 bytes each way, one byte counted for the id",
         Hex("06 00 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 40 09 01 81 02 09 01 91 02 C0"), 65, 65},
        {"boot keyboard", Hex(KEYBOARD), 2, 9},
        {"boot mouse, nested collections, no output report", Hex(MOUSE), 0, 4},
        {"three collections: the longest report of each kind counts, features do not",
         Hex(COMPOSITE), 2, 8},
        {"bits of one report add up over items and round up to bytes",
         Hex("06 00 FF 09 01 A1 01 85 05 75 04 95 03 81 02 75 01 95 01 81 02 C0"), 0, 3},
        {"an id's items add up even when other ids lie between them",
         Hex("A1 01 85 01 75 08 95 10 81 02 85 02 95 20 81 02 85 01 95 18 81 02 C0"), 0, 41},
        {"Push and Pop restore size and id",
         Hex("A1 01 85 01 75 08 95 3B A4 85 02 75 01 95 08 81 02 B4 91 02 C0"), 60, 2},
        {"a long item is stepped over",
         Hex("A1 01 FE 03 10 AA BB CC 75 08 95 3B 91 02 C0"), 60, 0},
        {"an empty descriptor has no reports", {}, 0, 0},
        {"collections nested 32 deep",
         Join({Repeat("A1 00", 32), Hex("75 08 95 01 81 02"), Repeat("C0", 32)}), 0, 2},
        {"a report of exactly the largest length",
         Hex("A1 01 75 08 96 00 30 81 02 96 00 10 81 02 C0"), 0, 16385},
        {"eight pushes", Join({Repeat("A4", 8), Hex("A1 01 75 08 95 02 81 02 C0")}), 0, 3},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.name);
        HidReportLengths lengths{999, 999};
        ASSERT_EQ(ParseReportDescriptor(c.descriptor.data(), c.descriptor.size(), lengths), DESCRIPTOR_OK);
        EXPECT_EQ(lengths.outputReportByteLength, c.output);
        EXPECT_EQ(lengths.inputReportByteLength, c.input);
    }
}

struct RefusalCase {
    const char* name;
    std::vector<std::uint8_t> descriptor;
    std::int32_t expected;
};

TEST(ReportDescriptorTest, RefusesWhatMakesNoSenseAndLeavesTheLengthsAlone) {
    const std::vector<std::uint8_t> unit = Hex(UNIT);
    const RefusalCase cases[] = {
        {"the unit's descriptor cut inside its last item",
         std::vector<std::uint8_t>(unit.begin(), unit.begin() + 14), DESCRIPTOR_TRUNCATED},
        {"a four-byte item with three bytes", Hex("A1 01 97 FF FF FF"), DESCRIPTOR_TRUNCATED},
        {"a long item longer than the rest", Hex("A1 01 FE 05 10 AA BB"), DESCRIPTOR_TRUNCATED},
        {"a long item without its header", Hex("A1 01 FE 05"), DESCRIPTOR_TRUNCATED},
        {"an item of the reserved type", Hex("A1 01 0C C0"), DESCRIPTOR_RESERVED_ITEM},
        {"a reserved main item", Hex("A1 01 D0 C0"), DESCRIPTOR_RESERVED_ITEM},
        {"a reserved global item", Hex("A1 01 C5 00 C0"), DESCRIPTOR_RESERVED_ITEM},
        {"report id 0", Hex("A1 01 85 00 75 08 95 01 81 02 C0"), DESCRIPTOR_BAD_REPORT_ID},
        {"report id 256", Hex("A1 01 86 00 01 75 08 95 01 81 02 C0"), DESCRIPTOR_BAD_REPORT_ID},
        {"a report without an id before reports with ids",
         Hex("A1 01 75 08 95 01 81 02 85 01 91 02 C0"), DESCRIPTOR_MIXED_REPORT_IDS},
        {"Pop brings back a state without an id among reports with ids",
         Hex("A1 01 A4 85 01 75 08 95 01 81 02 B4 91 02 C0"), DESCRIPTOR_MIXED_REPORT_IDS},
        {"report size 257 bits", Hex("A1 01 76 01 01 95 01 81 02 C0"), DESCRIPTOR_ABSURD_FIELD},
        {"report count 2^32 - 1 (the product would overflow)",
         Hex("A1 01 75 08 97 FF FF FF FF 81 02 C0"), DESCRIPTOR_ABSURD_FIELD},
        {"a report one byte longer than the largest",
         Hex("A1 01 75 08 96 00 30 81 02 96 01 10 81 02 C0"), DESCRIPTOR_REPORT_TOO_LONG},
        {"five 4096-byte fields of one output report",
         Join({Hex("A1 01 75 08 96 00 10"), Repeat("91 02", 5), Hex("C0")}), DESCRIPTOR_REPORT_TOO_LONG},
        {"End Collection without a collection", Hex("75 08 95 01 81 02 C0"), DESCRIPTOR_UNBALANCED},
        {"a collection left open", Hex("A1 01 75 08 95 01 81 02"), DESCRIPTOR_UNBALANCED},
        {"Pop without Push", Hex("A1 01 B4 C0"), DESCRIPTOR_UNBALANCED},
        {"collections nested 33 deep", Join({Repeat("A1 00", 33), Repeat("C0", 33)}), DESCRIPTOR_TOO_DEEP},
        {"nine pushes", Join({Repeat("A4", 9), Hex("A1 01 C0")}), DESCRIPTOR_TOO_DEEP},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        HidReportLengths lengths{999, 998};
        EXPECT_EQ(ParseReportDescriptor(c.descriptor.data(), c.descriptor.size(), lengths), c.expected);
        EXPECT_EQ(lengths.outputReportByteLength, 999);
        EXPECT_EQ(lengths.inputReportByteLength, 998);
    }
}

}  // namespace
