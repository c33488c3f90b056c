#include "app/win32/catalogue_text.h"

#include <windows.h>

#include <vector>

#include "app/win32/application.h"

namespace morivane {

std::string LoadCatalogueText(int messageNumber) {
    // LoadStringA cuts a text to the buffer and says how much it stored; a
    // buffer filled to its last byte may have cut it, so it is tried larger.
    std::vector<char> buffer(256);
    for (;;) {
        const int length = LoadStringA(ModuleInstance(), static_cast<UINT>(messageNumber),
                                       buffer.data(), static_cast<int>(buffer.size()));
        if (length <= 0) return std::string();
        if (static_cast<std::size_t>(length) + 1 < buffer.size() || buffer.size() >= 0x10000) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace morivane
