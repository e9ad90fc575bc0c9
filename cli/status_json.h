// The status command's answer for scripts: one JSON object.
#pragma once

#include <cstdint>
#include <string>

struct StatusReport {
    std::uint16_t status = 0;        // the catalogue id of the status text
    std::int32_t exitStatus = 0;
    std::wstring text;               // the status text
    std::wstring hint;               // the hint the status shows (the connection hint, or what to do
                                     // about a unit that cannot be opened); empty when none
    std::wstring message;            // the incompatible ESC's message; empty when none
    bool permissionDenied = false;   // a unit was found but may not be opened
    bool unitInUse = false;          // a unit was found, but another program holds it
    bool unitOpen = false;
    std::uint16_t productId = 0;
    std::wstring unitName;           // the version group's labels and values as shown
    std::wstring unitVersion;
    std::wstring bootloaderVersion;
    std::wstring escVersion;
};

// {"status":40000,"exitStatus":0,"text":"...","hint":null,...} on one line; texts in
// UTF-8 with "\n" line breaks; empty texts and an absent unit are null (the versions
// are always strings, as the dialog always shows them).
std::wstring StatusJson(const StatusReport& report);

// A JSON string literal of text, quotes included.
std::wstring JsonString(const std::wstring& text);
