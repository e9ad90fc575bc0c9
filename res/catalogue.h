// The message catalogue outside the Windows resource loader: each string id's
// English and German text, generated from res/messages.json like the string tables
// of the resource script. The caller names the language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

enum class CatalogueLanguage { English, German };

struct CatalogueEntry {
    std::uint16_t id;
    const wchar_t* english;  // UTF-16 code units (BMP only), CR LF line breaks
    const wchar_t* german;
};

// The text of `id` in `language`, or null for an id without text.
const wchar_t* CatalogueText(std::uint16_t id, CatalogueLanguage language);

// Every entry, in ascending id order.
std::span<const CatalogueEntry> CatalogueEntries();

// The terminal program's own texts (its usage, prompts and notes), kept in the same
// catalogue but outside the dialog's string tables; ids in res/terminal_texts.h.
const wchar_t* TerminalText(std::uint16_t id, CatalogueLanguage language);
std::span<const CatalogueEntry> TerminalCatalogueEntries();

// Either: the dialog's text of id, else the terminal program's; null for neither. For the
// programs that take their texts from this catalogue rather than the string tables.
const wchar_t* AnyCatalogueText(std::uint16_t id, CatalogueLanguage language);
