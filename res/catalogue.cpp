#include "res/catalogue.h"

// Defined by the generated table (gen_catalogue.py), sorted by id.
extern const CatalogueEntry catalogueEntries[];
extern const std::size_t catalogueEntryCount;

std::span<const CatalogueEntry> CatalogueEntries() {
    return {catalogueEntries, catalogueEntryCount};
}

const wchar_t* CatalogueText(std::uint16_t id, CatalogueLanguage language) {
    for (const CatalogueEntry& entry : CatalogueEntries()) {
        if (entry.id == id) {
            return language == CatalogueLanguage::German ? entry.german : entry.english;
        }
    }
    return nullptr;
}
