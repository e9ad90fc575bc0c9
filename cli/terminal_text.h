// Text between the catalogue's wide strings and the terminal's UTF-8.
#pragma once

#include <string>
#include <string_view>

// UTF-8 of a wide text, with the catalogue's "\r\n" line breaks as "\n".
std::string TerminalUtf8(std::wstring_view text);
// The wide text of UTF-8 (an argument, a file name); malformed bytes become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
