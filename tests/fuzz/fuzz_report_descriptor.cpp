// Any bytes as a report descriptor: the parser must neither read past them nor overflow,
// and what it accepts must give lengths a report can have.
#include <cstddef>
#include <cstdint>

#include "link/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint16_t UNTOUCHED = 0xA5A5;
    HidReportLengths lengths{UNTOUCHED, UNTOUCHED};
    const std::int32_t result = ParseReportDescriptor(data, size, lengths);
    if (result == DESCRIPTOR_OK) {
        for (const std::uint16_t length : {lengths.outputReportByteLength, lengths.inputReportByteLength}) {
            // No report, or at least one data byte behind the id byte, within the limit.
            if (length == 1 || length > MAX_REPORT_DATA_BYTES + 1) {
                __builtin_trap();
            }
        }
    } else if (result < DESCRIPTOR_TOO_DEEP || result > DESCRIPTOR_TRUNCATED ||
               lengths.outputReportByteLength != UNTOUCHED || lengths.inputReportByteLength != UNTOUCHED) {
        __builtin_trap();
    }
    return 0;
}
