#include "pe/version_info.h"

#include <algorithm>
#include <cstdio>

#include "pe/pe_module.h"
#include "pe/utf16.h"

namespace morivane {

namespace {

constexpr std::size_t kBlockHeaderSize = 6;  // wLength, wValueLength, wType

std::size_t Align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

// One block's header, key and the places of its value and children, all as
// offsets into the resource. Only `start` to `end` is known to be inside it;
// valueStart and childrenStart may lie beyond `end`.
struct Block {
    std::size_t start = 0;
    std::size_t end = 0;
    std::uint16_t valueLength = 0;
    bool isText = false;
    std::size_t keyStart = 0;
    std::size_t keyUnits = 0;
    std::size_t valueStart = 0;
    std::size_t childrenStart = 0;
};

// Reads the block at `at`, which must lie within [at, limit), its parent's
// end. Fails when the header is cut short, wLength is too small to advance
// or reaches past `limit`, or the key has no NUL inside the block.
std::optional<Block> ReadBlock(ByteSpan res, std::size_t at, std::size_t limit) {
    if (at > limit || limit - at < kBlockHeaderSize) return std::nullopt;
    const std::size_t length = LoadLe16(res.data() + at);
    if (length < kBlockHeaderSize || length > limit - at) return std::nullopt;
    Block b;
    b.start = at;
    b.end = at + length;
    b.valueLength = LoadLe16(res.data() + at + 2);
    b.isText = LoadLe16(res.data() + at + 4) != 0;
    b.keyStart = at + kBlockHeaderSize;
    std::size_t k = b.keyStart;
    for (;;) {
        if (b.end - k < 2) return std::nullopt;
        if (LoadLe16(res.data() + k) == 0) break;
        k += 2;
    }
    b.keyUnits = (k - b.keyStart) / 2;
    b.valueStart = Align4(k + 2);
    const std::size_t valueBytes = std::size_t{b.valueLength} * (b.isText ? 2 : 1);
    b.childrenStart = b.valueStart + Align4(valueBytes);
    return b;
}

bool KeyEquals(ByteSpan res, const Block& b, std::string_view key) {
    return b.keyUnits == key.size() &&
           Utf16LeEqualsIgnoringAsciiCase(res.subspan(b.keyStart, 2 * b.keyUnits), key);
}

template <typename T>
std::optional<T> Fail(VersionStatus* status, VersionStatus why) {
    if (status != nullptr) *status = why;
    return std::nullopt;
}

void SetOk(VersionStatus* status) {
    if (status != nullptr) *status = VersionStatus::Ok;
}

}  // namespace

const char* VersionStatusName(VersionStatus status) {
    switch (status) {
        case VersionStatus::Ok:
            return "ok";
        case VersionStatus::BadModule:
            return "module cannot be read";
        case VersionStatus::NoVersionResource:
            return "module has no version resource";
        case VersionStatus::Malformed:
            return "version resource is damaged";
        case VersionStatus::NotFound:
            return "no such key in the version resource";
        case VersionStatus::NoTranslation:
            return "version resource lists no translation";
        case VersionStatus::NoFileVersion:
            return "no FileVersion under the first translation";
        case VersionStatus::EmptyFileVersion:
            return "FileVersion is empty";
    }
    return "unknown version status";
}

std::optional<VersionValue> QueryVersionValue(ByteSpan res, std::string_view path,
                                              VersionStatus* status) {
    std::optional<Block> block = ReadBlock(res, 0, res.size());
    // A first key character where the 32-bit form has wType marks the 16-bit
    // form, which 32-bit modules do not carry and this reader does not take.
    if (!block || res[4] >= ' ') return Fail<VersionValue>(status, VersionStatus::Malformed);

    while (!path.empty()) {
        const std::size_t slash = path.find('\\');
        const std::string_view key = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (key.empty()) continue;

        std::optional<Block> found;
        for (std::size_t at = block->childrenStart; at < block->end;) {
            const std::optional<Block> child = ReadBlock(res, at, block->end);
            if (!child) return Fail<VersionValue>(status, VersionStatus::Malformed);
            if (KeyEquals(res, *child, key)) {
                found = child;
                break;
            }
            at += Align4(child->end - child->start);
        }
        if (!found) return Fail<VersionValue>(status, VersionStatus::NotFound);
        block = found;
    }

    VersionValue value;
    value.length = block->valueLength;
    value.isText = block->isText;
    if (block->valueStart < block->end) {
        const std::size_t wanted = std::size_t{value.length} * (value.isText ? 2 : 1);
        value.bytes =
            res.subspan(block->valueStart, std::min(wanted, block->end - block->valueStart));
    }
    SetOk(status);
    return value;
}

std::optional<Translation> ReadFirstTranslation(ByteSpan block, VersionStatus* status) {
    VersionStatus why = VersionStatus::Ok;
    const auto value = QueryVersionValue(block, "\\VarFileInfo\\Translation", &why);
    if (!value) {
        return Fail<Translation>(status, why == VersionStatus::Malformed
                                             ? VersionStatus::Malformed
                                             : VersionStatus::NoTranslation);
    }
    if (value->length == 0 || value->bytes.size() < 4) {
        return Fail<Translation>(status, VersionStatus::NoTranslation);
    }
    SetOk(status);
    return Translation{LoadLe16(value->bytes.data()), LoadLe16(value->bytes.data() + 2)};
}

std::string FileVersionPath(Translation translation) {
    char path[48];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04X%04X\\FileVersion",
                  static_cast<unsigned>(translation.language),
                  static_cast<unsigned>(translation.codePage));
    return path;
}

std::optional<std::string> ReadFileVersion(ByteSpan block, VersionStatus* status) {
    const std::optional<Translation> translation = ReadFirstTranslation(block, status);
    if (!translation) return std::nullopt;

    VersionStatus why = VersionStatus::Ok;
    const auto value = QueryVersionValue(block, FileVersionPath(*translation), &why);
    if (!value) {
        return Fail<std::string>(status, why == VersionStatus::Malformed
                                             ? VersionStatus::Malformed
                                             : VersionStatus::NoFileVersion);
    }
    if (value->length == 0) return Fail<std::string>(status, VersionStatus::EmptyFileVersion);

    std::string text;
    if (value->isText) {
        const ByteSpan units = value->bytes.first(Utf16LeLength(value->bytes) * 2);
        text = Utf16LeToUtf8(units);
    } else {
        const auto nul = std::find(value->bytes.begin(), value->bytes.end(), 0);
        text.assign(value->bytes.begin(), nul);
    }
    SetOk(status);
    return text;
}

std::optional<std::string> ReadModuleFileVersion(ByteSpan module, VersionStatus* status) {
    const std::optional<PeModule> pe = PeModule::Parse(module);
    if (!pe) return Fail<std::string>(status, VersionStatus::BadModule);
    const Resource* version = pe->FindVersionResource();
    if (version == nullptr) return Fail<std::string>(status, VersionStatus::NoVersionResource);
    return ReadFileVersion(version->data, status);
}

}  // namespace morivane
