// The message catalogue: message numbers, their identifiers and texts.
//
// Checks and the patcher report outcomes as message numbers (0 meaning
// success); only the user interface turns a number into text. On Win32 the
// texts come from the string table (LoadStringA, code page 932); this native
// copy is built from the same list (ui/catalogue.def) for the tools and tests.
#pragma once

#include <span>

#include "seams/message_numbers.h"

namespace morivane {

struct CatalogueEntry {
    int number;
    const char* identifier;  // "IDS_..."
    const char* text;        // UTF-8, exactly as shown to the user
    const char* english;     // what the text means, for tools and logs
};

// Every entry, in increasing order of number.
std::span<const CatalogueEntry> Catalogue();

// The entry for `number`, or null when the number is not in the catalogue.
const CatalogueEntry* FindMessage(int number);

}  // namespace morivane
