// Bounded wide-text helpers for the window texts: the fixed-size buffers the texts are
// built in become a capacity (terminator included) that no result passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Every text is loaded into, and built in, a buffer of this many wide characters,
// terminator included.
constexpr std::size_t TEXT_CAPACITY = 2048;

// One argument of a format: a text for "%s", an unsigned number for "%u" or "%08x".
struct FormatArg {
    FormatArg(std::wstring_view value) : text(value), isText(true) {}
    FormatArg(const wchar_t* value) : text(value), isText(true) {}
    FormatArg(const std::wstring& value) : text(value), isText(true) {}
    FormatArg(std::uint32_t value) : number(value), isText(false) {}

    std::wstring_view text;
    std::uint32_t number = 0;
    bool isText;
};

// Fills the "%s", "%u", "%08x" and "%%" of format with args in order, as wide formatted
// printing does, cut to capacity - 1 characters. Any other "%" stands as it is, and a
// conversion without an argument left prints nothing. The catalogue's formats are wide texts
// whose "%s" takes a wide text on every platform, which the C library's wide printf does
// not promise, hence a formatter of its own.
std::wstring FormatText(std::wstring_view format, std::initializer_list<FormatArg> args,
                        std::size_t capacity);

// Appends tail to text, keeping text within capacity - 1 characters.
void AppendBounded(std::wstring& text, std::wstring_view tail, std::size_t capacity);

// Cuts text to capacity - 1 characters, as a buffer of capacity characters holds it.
void TruncateText(std::wstring& text, std::size_t capacity);
