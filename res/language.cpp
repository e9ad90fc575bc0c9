#include "res/language.h"

#include <cstring>

CatalogueLanguage LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0') {
            return std::strncmp(value, "de", 2) == 0 ? CatalogueLanguage::German : CatalogueLanguage::English;
        }
    }
    return CatalogueLanguage::English;
}
