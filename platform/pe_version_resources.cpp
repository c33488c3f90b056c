#include "platform/pe_version_resources.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "decode/bytes.h"
#include "pe/pe_module.h"
#include "pe/utf16.h"
#include "pe/version_info.h"

namespace morivane {

namespace {

constexpr std::int64_t kMaxModuleSize = 0x7FFFFFFF;
constexpr std::size_t kBlockHeaderSize = 6;  // wLength, wValueLength, wType

std::uint32_t BlockSize(std::size_t rootLength) {
    return static_cast<std::uint32_t>(3 * rootLength + 1);
}

// The root block of the version resource of the module at `path`, copied out
// of the file; nothing when any step fails. The root's wLength (at most 65535)
// bounds it; a root that claims more than the resource holds is damaged.
std::optional<std::vector<std::uint8_t>> ReadRootBlock(FileSystem& files, const std::string& path) {
    const std::unique_ptr<InputFile> file = files.OpenForReading(path);
    if (file == nullptr) return std::nullopt;
    const std::int64_t length = file->Length();
    if (length < 0 || length > kMaxModuleSize) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    if (length > 0 && file->Read(bytes.data(), bytes.size(), 1) != 1) return std::nullopt;

    const std::optional<PeModule> module = PeModule::Parse(bytes);
    if (!module) return std::nullopt;
    const Resource* version = module->FindVersionResource();
    if (version == nullptr || version->data.size() < kBlockHeaderSize) return std::nullopt;
    const std::size_t root = LoadLe16(version->data.data());
    if (root < kBlockHeaderSize || root > version->data.size()) return std::nullopt;
    return std::vector<std::uint8_t>(version->data.begin(), version->data.begin() + root);
}

}  // namespace

std::uint32_t PeVersionResources::VersionInfoSize(const std::string& path, std::uint32_t* handle) {
    if (handle != nullptr) *handle = 0;
    const auto root = ReadRootBlock(files_, path);
    return root ? BlockSize(root->size()) : 0;
}

bool PeVersionResources::ReadVersionInfo(const std::string& path, std::uint32_t /*handle*/,
                                         std::uint32_t size, void* block) {
    if (block == nullptr) return false;
    const auto root = ReadRootBlock(files_, path);
    if (!root || BlockSize(root->size()) != size) return false;
    auto* out = static_cast<std::uint8_t*>(block);
    std::memcpy(out, root->data(), root->size());
    std::memset(out + root->size(), 0, size - root->size());
    return true;
}

bool PeVersionResources::QueryVersionValue(const void* block, const std::string& subBlock,
                                           const void** data, std::uint32_t* length) {
    if (block == nullptr || data == nullptr || length == nullptr) return false;
    // The caller's block is writable (ReadVersionInfo filled it); texts are
    // converted into its spare part, as VerQueryValueA does.
    auto* base = static_cast<std::uint8_t*>(const_cast<void*>(block));
    const std::size_t root = LoadLe16(base);
    const ByteSpan resource(base, root);
    const std::optional<VersionValue> value = morivane::QueryVersionValue(resource, subBlock);
    if (!value) return false;

    std::uint8_t* const noRoom = base + 3 * root;  // always a NUL
    if (!value->isText) {
        *data = value->bytes.empty() ? noRoom : value->bytes.data();
        *length =
            static_cast<std::uint32_t>(std::min<std::size_t>(value->length, value->bytes.size()));
        return true;
    }

    *length = value->length;
    if (value->bytes.empty()) {
        *data = noRoom;
        return true;
    }
    const std::size_t offset = static_cast<std::size_t>(value->bytes.data() - base);
    const std::size_t units = Utf16LeLength(value->bytes);
    const std::string text = Utf16LeToUtf8(value->bytes.first(units * 2));
    std::uint8_t* const out = base + root + 2 * offset;
    // Holds by the layout (3 bytes per unit at most); checked all the same.
    if (root + 2 * offset + text.size() + 1 > 3 * root) return false;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = 0;
    *data = out;
    return true;
}

}  // namespace morivane
