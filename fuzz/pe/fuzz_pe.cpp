// Any byte string given to the PE reader, and to the version lookup, yields
// either a result that lies wholly inside the input or a named failure, never
// an access outside the input, a loop, or work beyond its size. The input is
// read both as a module and as a bare version resource, so that the version
// walk is exercised directly as well as through a module's tree.
#include <cstdint>
#include <cstdlib>

#include "pe/pe_module.h"
#include "pe/version_info.h"

namespace {

using namespace morivane;

void CheckInside(ByteSpan part, ByteSpan whole) {
    if (part.empty()) return;
    if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) {
        std::abort();
    }
}

// True when the name's text, given back to the lookup, names it: an id, or
// an ASCII name that does not read as "#<number>".
bool Spellable(const ResourceName& n) {
    if (!n.isName) return true;
    for (std::size_t i = 0; i + 1 < n.utf16.size(); i += 2) {
        if (n.utf16[i + 1] != 0 || n.utf16[i] >= 0x80) return false;
    }
    return n.utf16.empty() || n.utf16[0] != '#';
}

void CheckVersion(ByteSpan block) {
    VersionStatus status = VersionStatus::Ok;
    const auto version = ReadFileVersion(block, &status);
    if (version.has_value() != (status == VersionStatus::Ok)) std::abort();
    const auto root = QueryVersionValue(block, "\\", &status);
    if (root) CheckInside(root->bytes, block);
    const auto translation = QueryVersionValue(block, "\\VarFileInfo\\Translation", &status);
    if (translation) CheckInside(translation->bytes, block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteSpan input{data, size};
    PeStatus status = PeStatus::Ok;
    const auto module = PeModule::Parse(input, &status);
    if (module.has_value() != (status == PeStatus::Ok)) std::abort();
    if (module) {
        const auto& resources = module->Resources();
        for (std::size_t i = 0; i < resources.size(); ++i) {
            const Resource& r = resources[i];
            CheckInside(r.data, input);
            if (r.type.isName) CheckInside(r.type.utf16, input);
            if (r.name.isName) CheckInside(r.name.utf16, input);
            // Looking a resource up by what it is called finds it or an
            // earlier one of the same type and name (checked for the first
            // few only: each lookup is a linear search).
            if (i >= 64) continue;
            const std::string type = r.type.ToString();
            const std::string name = r.name.ToString();
            const Resource* found = module->Find(ResourceId::Named(type), ResourceId::Named(name));
            if ((found == nullptr || found > &r) && Spellable(r.type) && Spellable(r.name)) {
                std::abort();
            }
        }
        if (const Resource* version = module->FindVersionResource()) CheckVersion(version->data);
    }
    CheckVersion(input);
    return 0;
}
