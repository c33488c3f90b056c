// Builders for the PE reader's tests: version resource blocks and minimal PE32
// images around a hand-written resource tree, written from the formats'
// layout independently of the reader, so that tests can damage any field.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "decode/bytes.h"

namespace morivane::petest {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    StoreLe16(b.data() + at, v);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    StoreLe32(b.data() + at, v);
}
inline void PadTo4(Bytes& b) {
    b.resize((b.size() + 3) & ~std::size_t{3});
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// UTF-16LE bytes of `text`, with a NUL unit when `terminate`.
inline Bytes Utf16(const std::u16string& text, bool terminate = true) {
    Bytes b;
    for (char16_t c : text) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminate) b.insert(b.end(), {0, 0});
    return b;
}

// One block of a version resource. Lengths left unset are computed.
struct VNode {
    std::u16string key;
    std::uint16_t type = 1;
    Bytes value;
    std::vector<VNode> children;
    std::optional<std::uint16_t> valueLength;  // default: value size in units / bytes
    std::optional<std::uint16_t> length;       // default: the bytes written
};

// Appends `n` at the end of `out`, which starts at the resource's first byte
// and ends aligned. Children follow one another with padding to 4 between
// them; the last child's trailing padding is not counted in the parent.
inline void AppendBlock(Bytes& out, const VNode& n) {
    const std::size_t start = out.size();
    out.resize(start + 6);
    const Bytes key = Utf16(n.key);
    out.insert(out.end(), key.begin(), key.end());
    PadTo4(out);
    out.insert(out.end(), n.value.begin(), n.value.end());
    for (const VNode& child : n.children) {
        PadTo4(out);
        AppendBlock(out, child);
    }
    const std::size_t written = out.size() - start;
    StoreLe16(out.data() + start, n.length.value_or(static_cast<std::uint16_t>(written)));
    const std::uint16_t units =
        static_cast<std::uint16_t>(n.type != 0 ? n.value.size() / 2 : n.value.size());
    StoreLe16(out.data() + start + 2, n.valueLength.value_or(units));
    StoreLe16(out.data() + start + 4, n.type);
}

inline Bytes Serialize(const VNode& root) {
    Bytes out;
    AppendBlock(out, root);
    return out;
}

inline VNode Text(const std::u16string& key, const std::u16string& text) {
    return VNode{key, 1, Utf16(text), {}, {}, {}};
}

inline VNode Translations(std::vector<std::pair<std::uint16_t, std::uint16_t>> entries) {
    VNode n{u"Translation", 0, {}, {}, {}, {}};
    for (auto [language, codePage] : entries) {
        n.value.resize(n.value.size() + 4);
        StoreLe16(n.value.data() + n.value.size() - 4, language);
        StoreLe16(n.value.data() + n.value.size() - 2, codePage);
    }
    return n;
}

inline VNode Table(const std::u16string& key, std::vector<VNode> strings) {
    return VNode{key, 1, {}, std::move(strings), {}, {}};
}

// The usual shape: VS_VERSION_INFO with a 52-byte fixed part, StringFileInfo
// holding `tables`, VarFileInfo holding `translation`.
inline VNode VersionRoot(std::vector<VNode> tables, VNode translation) {
    VNode root{u"VS_VERSION_INFO", 0, Bytes(52, 0), {}, {}, {}};
    StoreLe32(root.value.data(), 0xFEEF04BD);
    root.children.push_back(VNode{u"StringFileInfo", 1, {}, std::move(tables), {}, {}});
    root.children.push_back(VNode{u"VarFileInfo", 1, {}, {std::move(translation)}, {}, {}});
    return root;
}

// A PE32 image with one section ".rsrc" holding `tree` at file offset 0x200
// and RVA 0x1000, with the resource directory pointing at it. The constants
// give the places of the fields that tests change.
struct Image {
    static constexpr std::size_t kLfanew = 0x40;
    static constexpr std::size_t kFileHeader = kLfanew + 4;
    static constexpr std::size_t kSectionCount = kFileHeader + 2;
    static constexpr std::size_t kOptionalSize = kFileHeader + 16;
    static constexpr std::size_t kOptional = kFileHeader + 20;
    static constexpr std::size_t kRvaCount = kOptional + 92;
    static constexpr std::size_t kResourceRva = kOptional + 96 + 2 * 8;
    static constexpr std::size_t kSection = kOptional + 0xE0;
    static constexpr std::size_t kVirtualSize = kSection + 8;
    static constexpr std::size_t kVirtualAddress = kSection + 12;
    static constexpr std::size_t kRawSize = kSection + 16;
    static constexpr std::size_t kRawPointer = kSection + 20;
    static constexpr std::size_t kTreeOffset = 0x200;
    static constexpr std::uint32_t kTreeRva = 0x1000;
};

inline Bytes BuildImage(const Bytes& tree) {
    Bytes b(Image::kTreeOffset, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, Image::kLfanew);
    b[Image::kLfanew] = 'P';
    b[Image::kLfanew + 1] = 'E';
    Put16(b, Image::kFileHeader, 0x14C);  // i386
    Put16(b, Image::kSectionCount, 1);
    Put16(b, Image::kOptionalSize, 0xE0);
    Put16(b, Image::kFileHeader + 18, 0x0102);  // executable, 32-bit
    Put16(b, Image::kOptional, 0x10B);
    Put32(b, Image::kOptional + 32, 0x1000);  // section alignment
    Put32(b, Image::kOptional + 36, 0x200);   // file alignment
    Put32(b, Image::kRvaCount, 16);
    Put32(b, Image::kResourceRva, Image::kTreeRva);
    Put32(b, Image::kResourceRva + 4, static_cast<std::uint32_t>(tree.size()));
    const std::uint32_t raw = static_cast<std::uint32_t>((tree.size() + 0x1FF) & ~0x1FFu);
    std::copy_n(".rsrc", 5, b.begin() + Image::kSection);
    Put32(b, Image::kVirtualSize, static_cast<std::uint32_t>(tree.size()));
    Put32(b, Image::kVirtualAddress, Image::kTreeRva);
    Put32(b, Image::kRawSize, raw);
    Put32(b, Image::kRawPointer, Image::kTreeOffset);
    b.resize(Image::kTreeOffset + raw, 0);
    std::copy(tree.begin(), tree.end(), b.begin() + Image::kTreeOffset);
    return b;
}

// Resource tree pieces at given offsets of `tree`.
inline void Directory(Bytes& tree, std::size_t at, std::uint16_t named, std::uint16_t ids) {
    Put32(tree, at + 12, 0);
    Put16(tree, at + 12, named);
    Put16(tree, at + 14, ids);
}
inline constexpr std::uint32_t kSub = 0x80000000u;  // name string / subdirectory flag
inline void Entry(Bytes& tree, std::size_t dir, std::size_t index, std::uint32_t name,
                  std::uint32_t target) {
    Put32(tree, dir + 16 + 8 * index, name);
    Put32(tree, dir + 16 + 8 * index + 4, target);
}
inline void DataEntry(Bytes& tree, std::size_t at, std::uint32_t rva, std::uint32_t size) {
    Put32(tree, at, rva);
    Put32(tree, at + 4, size);
    Put32(tree, at + 8, 0);
    Put32(tree, at + 12, 0);
}

// The smallest complete tree: type 10, name 1, language 0x0411, whose data is
// the 4 bytes "DATA" at tree offset 0x58. Directories at 0x00 (types), 0x18
// (names), 0x30 (languages); the data entry at 0x48.
struct MiniTree {
    static constexpr std::size_t kTypes = 0x00;
    static constexpr std::size_t kNames = 0x18;
    static constexpr std::size_t kLanguages = 0x30;
    static constexpr std::size_t kData = 0x48;
    static constexpr std::size_t kBytes = 0x58;
};
inline Bytes BuildMiniTree() {
    Bytes t;
    Directory(t, MiniTree::kTypes, 0, 1);
    Entry(t, MiniTree::kTypes, 0, 10, kSub | MiniTree::kNames);
    Directory(t, MiniTree::kNames, 0, 1);
    Entry(t, MiniTree::kNames, 0, 1, kSub | MiniTree::kLanguages);
    Directory(t, MiniTree::kLanguages, 0, 1);
    Entry(t, MiniTree::kLanguages, 0, 0x0411, MiniTree::kData);
    DataEntry(t, MiniTree::kData, Image::kTreeRva + MiniTree::kBytes, 4);
    for (char c : std::string("DATA")) t.push_back(static_cast<std::uint8_t>(c));
    return t;
}

// One payload of SabunnTree: under the integer `id`, or under `name` when
// that is not empty.
struct TreePayload {
    std::uint16_t id = 0;
    std::u16string name;
    Bytes data;
};

// A tree whose one type, named "SABUNN", holds `payloads` (named ones given
// first, as the format orders them), each in language 0x0411: the directories,
// then the data entries, then the name strings, then the data.
inline Bytes SabunnTree(const std::vector<TreePayload>& payloads) {
    const std::size_t count = payloads.size();
    const std::size_t names = 0x18;
    const std::size_t languages = names + 16 + 8 * count;  // 24 bytes each
    const std::size_t entries = languages + 24 * count;    // 16 bytes each
    std::size_t strings = entries + 16 * count;
    Bytes t;
    const auto string = [&t, &strings](const std::u16string& text) {
        const std::size_t at = strings;
        Put16(t, at, static_cast<std::uint16_t>(text.size()));
        const Bytes units = Utf16(text, false);
        t.resize(std::max(t.size(), at + 2 + units.size()));
        std::copy(units.begin(), units.end(), t.begin() + static_cast<std::ptrdiff_t>(at + 2));
        strings = (at + 2 + units.size() + 3) & ~std::size_t{3};
        return static_cast<std::uint32_t>(kSub | at);
    };
    std::uint16_t named = 0;
    for (const TreePayload& p : payloads) named += p.name.empty() ? 0 : 1;
    Directory(t, 0x00, 1, 0);
    Entry(t, 0x00, 0, string(u"SABUNN"), static_cast<std::uint32_t>(kSub | names));
    Directory(t, names, named, static_cast<std::uint16_t>(count - named));
    for (std::size_t i = 0; i < count; ++i) {
        const TreePayload& p = payloads[i];
        const std::size_t language = languages + 24 * i;
        Entry(t, names, i, p.name.empty() ? p.id : string(p.name),
              static_cast<std::uint32_t>(kSub | language));
        Directory(t, language, 0, 1);
        Entry(t, language, 0, 0x0411, static_cast<std::uint32_t>(entries + 16 * i));
    }
    std::size_t data = strings;
    for (std::size_t i = 0; i < count; ++i) {
        const Bytes& bytes = payloads[i].data;
        DataEntry(t, entries + 16 * i, static_cast<std::uint32_t>(Image::kTreeRva + data),
                  static_cast<std::uint32_t>(bytes.size()));
        t.resize(std::max(t.size(), data + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), t.begin() + static_cast<std::ptrdiff_t>(data));
        data = (data + bytes.size() + 3) & ~std::size_t{3};
    }
    return t;
}

}  // namespace morivane::petest
