// Device paths travel through the link as wide strings, as Windows names its devices;
// Linux's device nodes (/dev/hidrawN) are plain ASCII.
#pragma once

#include <string>

// Each byte as one wide character; false, wide cleared, for a byte outside ASCII.
bool WidenAsciiPath(const char* narrow, std::wstring& wide);
// Each wide character as one byte; false, narrow cleared, for a character outside ASCII
// or a NUL, which could only make the path name another file.
bool NarrowAsciiPath(const std::wstring& wide, std::string& narrow);
