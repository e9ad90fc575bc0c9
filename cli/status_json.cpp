#include "cli/status_json.h"

namespace {

std::wstring StringOrNull(const std::wstring& text) {
    return text.empty() ? L"null" : JsonString(text);
}

std::wstring Number(std::uint32_t value) {
    return std::to_wstring(value);
}

}  // namespace

std::wstring JsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            continue;  // the catalogue's line breaks, as the terminal shows them
        }
        switch (c) {
        case L'"':
            out += L"\\\"";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'\t':
            out += L"\\t";
            break;
        default:
            if (static_cast<std::uint32_t>(c) < 0x20) {
                static constexpr wchar_t HEX[] = L"0123456789abcdef";
                out += L"\\u00";
                out += HEX[(c >> 4) & 0xF];
                out += HEX[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + L"\"";
}

std::wstring StatusJson(const StatusReport& r) {
    std::wstring out = L"{\"status\":" + Number(r.status);
    out += L",\"exitStatus\":" + std::to_wstring(r.exitStatus);
    out += L",\"text\":" + StringOrNull(r.text);
    out += L",\"hint\":" + StringOrNull(r.hint);
    out += L",\"message\":" + StringOrNull(r.message);
    out += L",\"permissionDenied\":" + std::wstring(r.permissionDenied ? L"true" : L"false");
    out += L",\"unitInUse\":" + std::wstring(r.unitInUse ? L"true" : L"false");
    out += L",\"unit\":";
    if (r.unitOpen) {
        out += L"{\"name\":" + JsonString(r.unitName) + L",\"productId\":" + Number(r.productId) + L"}";
    } else {
        out += L"null";
    }
    out += L",\"versions\":{\"unit\":" + JsonString(r.unitVersion) + L",\"bootloader\":" +
           JsonString(r.bootloaderVersion) + L",\"esc\":" + JsonString(r.escVersion) + L"}}";
    return out;
}
