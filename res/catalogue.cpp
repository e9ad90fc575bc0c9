#include "res/catalogue.h"

// Defined by the generated table (gen_catalogue.py), sorted by id.
extern const CatalogueEntry catalogueEntries[];
extern const std::size_t catalogueEntryCount;
extern const CatalogueEntry terminalCatalogueEntries[];
extern const std::size_t terminalCatalogueEntryCount;

namespace {

const wchar_t* Lookup(std::span<const CatalogueEntry> entries, std::uint16_t id, CatalogueLanguage language) {
    for (const CatalogueEntry& entry : entries) {
        if (entry.id == id) {
            return language == CatalogueLanguage::German ? entry.german : entry.english;
        }
    }
    return nullptr;
}

}  // namespace

std::span<const CatalogueEntry> CatalogueEntries() {
    return {catalogueEntries, catalogueEntryCount};
}

const wchar_t* CatalogueText(std::uint16_t id, CatalogueLanguage language) {
    return Lookup(CatalogueEntries(), id, language);
}

std::span<const CatalogueEntry> TerminalCatalogueEntries() {
    return {terminalCatalogueEntries, terminalCatalogueEntryCount};
}

const wchar_t* TerminalText(std::uint16_t id, CatalogueLanguage language) {
    return Lookup(TerminalCatalogueEntries(), id, language);
}

const wchar_t* AnyCatalogueText(std::uint16_t id, CatalogueLanguage language) {
    const wchar_t* text = CatalogueText(id, language);
    return text != nullptr ? text : TerminalText(id, language);
}
