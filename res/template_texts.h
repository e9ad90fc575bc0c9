// The dialog template's own texts (res/lang-en.rc, res/lang-de.rc), for a window that is
// not made from the template.
#pragma once

#include "res/catalogue.h"

enum class TemplateTextId {
    Caption,       // the title before the dialog sets its own
    CloseButton,
    UpdateButton,
    HintLabel,     // above the status box
    VersionGroup,  // the version group's title
};

const wchar_t* TemplateText(TemplateTextId id, CatalogueLanguage language);
