// Reading the HID_ID property.
#include "link/hid_id.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One field from text on; text is left after it. At most 8 digits, so no overflow.
bool HexField(const char*& text, std::uint32_t& value) {
    value = 0;
    int digits = 0;
    for (int digit; (digit = HexDigit(*text)) >= 0; ++text) {
        if (++digits > 8) {
            return false;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return digits > 0;
}

}  // namespace

bool ParseHidId(const char* text, HidAttributes& attributes) {
    if (text == nullptr) {
        return false;
    }
    std::uint32_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    if (!HexField(text, bus) || *text++ != ':' || !HexField(text, vendor) || *text++ != ':' ||
        !HexField(text, product) || *text != '\0') {
        return false;
    }
    if (vendor > 0xFFFF || product > 0xFFFF) {
        return false;
    }
    attributes.vendorId = static_cast<std::uint16_t>(vendor);
    attributes.productId = static_cast<std::uint16_t>(product);
    return true;
}
