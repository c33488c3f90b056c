#include "pe/pe_module.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "pe/utf16.h"

namespace morivane {

namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;     // after the 4-byte signature
constexpr std::size_t kOptionalFixedSize = 96;  // PE32 optional header up to the directories
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::size_t kRvaCountOffset = 92;
constexpr std::size_t kDirectorySize = 8;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kSectionHeaderSize = 40;

constexpr std::size_t kResDirectorySize = 16;
constexpr std::size_t kResEntrySize = 8;
constexpr std::size_t kResDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr int kLanguageLevel = 2;  // levels: 0 type, 1 name, 2 language

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;  // VirtualSize, or SizeOfRawData when that is 0
    std::uint64_t fileOffset;
    std::uint64_t backed;  // bytes readable from fileOffset
};

// Maps RVAs to file bytes through the section table.
class SectionMap {
  public:
    SectionMap(ByteSpan file, std::vector<Section> sections)
        : file_(file), sections_(std::move(sections)) {}

    // The `size` file bytes at `rva`, when the first section holding `rva`
    // has them all in its file data.
    std::optional<ByteSpan> Map(std::uint32_t rva, std::uint64_t size) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.virtualSize) continue;
            const std::uint64_t offset = rva - s.virtualAddress;
            if (offset > s.backed || size > s.backed - offset) return std::nullopt;
            return file_.subspan(s.fileOffset + offset, size);
        }
        return std::nullopt;
    }

    // Everything readable from `rva` to the end of its section's file data.
    std::optional<ByteSpan> MapToSectionEnd(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.virtualSize) continue;
            const std::uint64_t offset = rva - s.virtualAddress;
            if (offset >= s.backed) return std::nullopt;
            return file_.subspan(s.fileOffset + offset, s.backed - offset);
        }
        return std::nullopt;
    }

  private:
    ByteSpan file_;
    std::vector<Section> sections_;
};

// Walks the resource tree depth first. Every directory may be entered once,
// which bounds the work by the size of the tree and rules out loops; every
// read is checked against `tree`.
class TreeWalker {
  public:
    TreeWalker(ByteSpan tree, const SectionMap& sections, std::vector<Resource>* out)
        : tree_(tree), sections_(sections), out_(out) {}

    PeStatus Walk() {
        entered_.insert(0);
        return Directory(0, 0, {}, {});
    }

  private:
    bool Fits(std::uint64_t offset, std::uint64_t size) const {
        return offset <= tree_.size() && size <= tree_.size() - offset;
    }
    const std::uint8_t* At(std::uint64_t offset) const { return tree_.data() + offset; }

    PeStatus Directory(std::uint32_t offset, int level, ResourceName type, ResourceName name) {
        if (!Fits(offset, kResDirectorySize)) return PeStatus::DirectoryPastEnd;
        const std::uint32_t named = LoadLe16(At(offset + 12));
        const std::uint32_t ids = LoadLe16(At(offset + 14));
        const std::uint64_t count = named + ids;
        const std::uint64_t first = std::uint64_t{offset} + kResDirectorySize;
        if (!Fits(first, count * kResEntrySize)) return PeStatus::DirectoryPastEnd;

        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = At(first + i * kResEntrySize);
            const std::uint32_t nameField = LoadLe32(entry);
            const std::uint32_t target = LoadLe32(entry + 4);
            if (((nameField & kHighBit) != 0) != (i < named)) return PeStatus::EntryKindMismatch;

            ResourceName key;
            if ((nameField & kHighBit) != 0) {
                const std::uint64_t at = nameField & ~kHighBit;
                if (!Fits(at, 2)) return PeStatus::DirectoryPastEnd;
                const std::uint64_t bytes = std::uint64_t{LoadLe16(At(at))} * 2;
                if (!Fits(at + 2, bytes)) return PeStatus::DirectoryPastEnd;
                key.isName = true;
                key.utf16 = tree_.subspan(at + 2, bytes);
            } else {
                key.id = static_cast<std::uint16_t>(nameField);
            }
            ResourceName nextType = level == 0 ? key : type;
            ResourceName nextName = level == 1 ? key : name;

            PeStatus status;
            if ((target & kHighBit) != 0) {
                if (level == kLanguageLevel) return PeStatus::TooDeep;
                const std::uint32_t sub = target & ~kHighBit;
                if (!entered_.insert(sub).second) return PeStatus::DirectoryLoop;
                status = Directory(sub, level + 1, nextType, nextName);
            } else {
                if (level != kLanguageLevel) return PeStatus::DataAboveLanguage;
                status = Leaf(target, nextType, nextName, key);
            }
            if (status != PeStatus::Ok) return status;
        }
        return PeStatus::Ok;
    }

    PeStatus Leaf(std::uint32_t offset, const ResourceName& type, const ResourceName& name,
                  const ResourceName& language) {
        if (!Fits(offset, kResDataEntrySize)) return PeStatus::DirectoryPastEnd;
        Resource r;
        r.type = type;
        r.name = name;
        // Language directories hold integer ids; a named language keeps id 0.
        r.language = language.isName ? 0 : language.id;
        r.dataRva = LoadLe32(At(offset));
        const std::uint32_t size = LoadLe32(At(offset + 4));
        r.codePage = LoadLe32(At(offset + 8));
        const std::optional<ByteSpan> data = sections_.Map(r.dataRva, size);
        if (!data) return PeStatus::DataUnmapped;
        r.data = *data;
        out_->push_back(r);
        return PeStatus::Ok;
    }

    ByteSpan tree_;
    const SectionMap& sections_;
    std::vector<Resource>* out_;
    std::unordered_set<std::uint32_t> entered_;
};

std::optional<PeModule> Fail(PeStatus* status, PeStatus why) {
    if (status != nullptr) *status = why;
    return std::nullopt;
}

}  // namespace

const char* PeStatusName(PeStatus status) {
    switch (status) {
        case PeStatus::Ok:
            return "ok";
        case PeStatus::NotMz:
            return "not an MZ executable";
        case PeStatus::BadPeOffset:
            return "PE header offset points past the end of the file";
        case PeStatus::NotPe:
            return "no PE signature";
        case PeStatus::NotPe32:
            return "not a 32-bit (PE32) module";
        case PeStatus::SectionsPastEnd:
            return "section table runs past the end of the file";
        case PeStatus::NoResources:
            return "module has no resource directory";
        case PeStatus::ResourceRvaUnmapped:
            return "resource directory lies outside every section's file data";
        case PeStatus::DirectoryPastEnd:
            return "resource tree reaches past its section's data";
        case PeStatus::DirectoryLoop:
            return "resource tree enters a directory twice";
        case PeStatus::TooDeep:
            return "resource tree is deeper than type, name and language";
        case PeStatus::DataAboveLanguage:
            return "resource tree holds data above the language level";
        case PeStatus::EntryKindMismatch:
            return "resource directory mixes named and integer entries out of order";
        case PeStatus::DataUnmapped:
            return "resource data lies outside every section's file data";
    }
    return "unknown PE status";
}

std::string ResourceName::ToString() const {
    if (isName) return Utf16LeToUtf8(utf16);
    // Appended rather than written as "#" + std::to_string(id): g++ 12 at -O3
    // warns falsely (-Wrestrict) about the insert at the front that the
    // operator+ overload for a temporary performs.
    std::string text = "#";
    text += std::to_string(id);
    return text;
}

ResourceId ResourceId::Named(std::string_view name) {
    if (name.size() >= 2 && name.size() <= 6 && name[0] == '#') {
        std::uint32_t id = 0;
        bool digits = true;
        for (char c : name.substr(1)) {
            digits = digits && c >= '0' && c <= '9';
            id = id * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (digits && id <= 0xFFFF) return Number(static_cast<std::uint16_t>(id));
    }
    return ResourceId(0, name, true);
}

bool ResourceId::Matches(const ResourceName& stored) const {
    if (!isName_) return !stored.isName && stored.id == id_;
    return stored.isName && Utf16LeEqualsIgnoringAsciiCase(stored.utf16, name_);
}

std::optional<PeModule> PeModule::Parse(ByteSpan file, PeStatus* status) {
    if (file.size() < kDosHeaderSize || file[0] != 'M' || file[1] != 'Z') {
        return Fail(status, PeStatus::NotMz);
    }
    const std::uint64_t pe = LoadLe32(file.data() + kLfanewOffset);
    if (pe > file.size() || file.size() - pe < 4 + kFileHeaderSize) {
        return Fail(status, PeStatus::BadPeOffset);
    }
    const std::uint8_t* sig = file.data() + pe;
    if (sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0) {
        return Fail(status, PeStatus::NotPe);
    }
    const std::uint8_t* header = sig + 4;
    const std::uint32_t sectionCount = LoadLe16(header + 2);
    const std::uint32_t optionalSize = LoadLe16(header + 16);
    const std::uint64_t optional = pe + 4 + kFileHeaderSize;
    if (optionalSize < kOptionalFixedSize || file.size() - optional < optionalSize ||
        LoadLe16(file.data() + optional) != kPe32Magic) {
        return Fail(status, PeStatus::NotPe32);
    }

    const std::uint64_t sectionTable = optional + optionalSize;
    if (file.size() - sectionTable < std::uint64_t{sectionCount} * kSectionHeaderSize) {
        return Fail(status, PeStatus::SectionsPastEnd);
    }
    std::vector<Section> sections;
    sections.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = file.data() + sectionTable + i * kSectionHeaderSize;
        const std::uint32_t virtualSize = LoadLe32(s + 8);
        const std::uint32_t rawSize = LoadLe32(s + 16);
        const std::uint64_t rawOffset = LoadLe32(s + 20);
        Section section{LoadLe32(s + 12), virtualSize != 0 ? virtualSize : rawSize, rawOffset, 0};
        if (rawOffset < file.size()) {
            const std::uint64_t inFile = std::min<std::uint64_t>(rawSize, file.size() - rawOffset);
            section.backed = std::min<std::uint64_t>(inFile, section.virtualSize);
        }
        sections.push_back(section);
    }

    // Data directories that the header both counts and has room for.
    const std::uint64_t directories =
        std::min<std::uint64_t>(LoadLe32(file.data() + optional + kRvaCountOffset),
                                (optionalSize - kOptionalFixedSize) / kDirectorySize);
    if (directories <= kResourceDirectoryIndex) return Fail(status, PeStatus::NoResources);
    const std::uint32_t treeRva = LoadLe32(file.data() + optional + kOptionalFixedSize +
                                           kResourceDirectoryIndex * kDirectorySize);
    // The directory's size field is not used: the tree is bounded by the file
    // data of the section that holds it, as it is for the Win32 lookup.
    if (treeRva == 0) return Fail(status, PeStatus::NoResources);

    const SectionMap map(file, std::move(sections));
    const std::optional<ByteSpan> tree = map.MapToSectionEnd(treeRva);
    if (!tree) return Fail(status, PeStatus::ResourceRvaUnmapped);

    PeModule module;
    const PeStatus walked = TreeWalker(*tree, map, &module.resources_).Walk();
    if (walked != PeStatus::Ok) return Fail(status, walked);
    if (status != nullptr) *status = PeStatus::Ok;
    return module;
}

const Resource* PeModule::Find(const ResourceId& type, const ResourceId& name) const {
    for (const Resource& r : resources_) {
        if (type.Matches(r.type) && name.Matches(r.name)) return &r;
    }
    return nullptr;
}

}  // namespace morivane
