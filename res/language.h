// Which language the programs speak on POSIX systems, from the locale.
#pragma once

#include "res/catalogue.h"

// German when the first of the environment's locale variables that is set and not empty
// (LC_ALL, then LC_MESSAGES, then LANG; null: unset) starts with "de", else English.
CatalogueLanguage LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);
