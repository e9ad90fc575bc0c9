#include "res/text_format.h"

std::wstring FormatText(std::wstring_view format, std::initializer_list<FormatArg> args,
                        std::size_t capacity) {
    std::wstring out;
    const FormatArg* next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const wchar_t c = format[i];
        if (c != L'%' || i + 1 == format.size()) {
            out.push_back(c);
            continue;
        }
        const wchar_t conversion = format[i + 1];
        if (format.substr(i, 4) == L"%08x") {
            i += 3;
            if (next == args.end()) {
                continue;
            }
            static constexpr wchar_t DIGITS[] = L"0123456789abcdef";
            const std::uint32_t number = next->isText ? 0u : next->number;
            for (int shift = 28; shift >= 0; shift -= 4) {
                out.push_back(DIGITS[(number >> shift) & 0xFu]);
            }
            ++next;
        } else if (conversion == L'%') {
            out.push_back(L'%');
            ++i;
        } else if (conversion == L's' || conversion == L'u') {
            ++i;
            if (next == args.end()) {
                continue;  // a format asking for more than it was given prints nothing there
            }
            if (conversion == L's') {
                out.append(next->isText ? next->text : std::wstring_view{});
            } else {
                out.append(std::to_wstring(next->isText ? 0u : next->number));
            }
            ++next;
        } else {
            out.push_back(c);
        }
    }
    TruncateText(out, capacity);
    return out;
}

void TruncateText(std::wstring& text, std::size_t capacity) {
    const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
    if (text.size() > limit) {
        text.resize(limit);
    }
}

void AppendBounded(std::wstring& text, std::wstring_view tail, std::size_t capacity) {
    TruncateText(text, capacity);
    const std::size_t limit = capacity == 0 ? 0 : capacity - 1;
    text.append(tail.substr(0, limit - text.size()));
}
