// The ids in the HID_ID property Linux gives a HID device: "bus:vendor:product", each in
// hexadecimal ("0003:00002E6D:00000002"). The property comes from outside the program,
// so anything else is refused rather than half read.
#pragma once

#include "link/hid_host.h"

// False, attributes unchanged, unless text is three fields of 1 to 8 hexadecimal digits
// separated by colons, with vendor and product within 16 bits.
bool ParseHidId(const char* text, HidAttributes& attributes);
