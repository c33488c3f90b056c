#include "ui/catalogue.h"

namespace morivane {

// The numbers the catalogue lists are the ones everything else reports by.
#define MORIVANE_MESSAGE(number, identifier, text, english) \
    static_assert(identifier == (number), #identifier " is numbered differently");
#include "ui/catalogue.def"
#undef MORIVANE_MESSAGE

namespace {
constexpr CatalogueEntry kEntries[] = {
#define MORIVANE_MESSAGE(number, identifier, text, english) {number, #identifier, text, english},
#include "ui/catalogue.def"
#undef MORIVANE_MESSAGE
};
}  // namespace

std::span<const CatalogueEntry> Catalogue() {
    return kEntries;
}

const CatalogueEntry* FindMessage(int number) {
    for (const CatalogueEntry& entry : kEntries) {
        if (entry.number == number) return &entry;
    }
    return nullptr;
}

}  // namespace morivane
