#include "link/ascii_path.h"

bool WidenAsciiPath(const char* narrow, std::wstring& wide) {
    wide.clear();
    for (; narrow != nullptr && *narrow != '\0'; ++narrow) {
        const auto byte = static_cast<unsigned char>(*narrow);
        if (byte > 0x7F) {
            wide.clear();
            return false;
        }
        wide.push_back(static_cast<wchar_t>(byte));
    }
    return narrow != nullptr;
}

bool NarrowAsciiPath(const std::wstring& wide, std::string& narrow) {
    narrow.clear();
    for (const wchar_t c : wide) {
        if (c <= 0 || c > 0x7F) {
            narrow.clear();
            return false;
        }
        narrow.push_back(static_cast<char>(c));
    }
    return true;
}
