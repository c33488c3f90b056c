// The program's catalogue texts, from its own string table.
#pragma once

#include <string>

namespace morivane {

// Catalogue text `messageNumber`, whole whatever its length, in the system's
// ANSI code page; empty when the table has no such text.
std::string LoadCatalogueText(int messageNumber);

}  // namespace morivane
