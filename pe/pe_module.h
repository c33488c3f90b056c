// A bounds-checked reader for the resources of a 32-bit PE module (an .exe or
// .dll for Win32), for tools and tests that must see a module's payloads and
// version resource without the Win32 loader.
//
// Layout read (all numbers little-endian, offsets in bytes):
//   DOS header   "MZ" at 0; u32 e_lfanew at 0x3C, the file offset of:
//   PE signature "PE\0\0"
//   File header  (20 bytes) u16 Machine, u16 NumberOfSections, 12 bytes not
//                read, u16 SizeOfOptionalHeader, u16 Characteristics
//   Optional     u16 magic 0x10B (PE32); u32 NumberOfRvaAndSizes at 92;
//   header       data directories from 96, 8 bytes each (u32 RVA, u32 size);
//                directory 2 is the resource tree
//   Sections     right after the optional header, 40 bytes each: 8-byte name,
//                u32 VirtualSize, u32 VirtualAddress, u32 SizeOfRawData,
//                u32 PointerToRawData, 16 bytes not read
//
// An RVA (address relative to the loaded image) is found in the file through
// the first section whose virtual range [VirtualAddress, VirtualAddress +
// VirtualSize) holds it (VirtualSize 0 counts as SizeOfRawData). Only the part
// of a section that is backed by file data, min(VirtualSize, SizeOfRawData)
// bytes from PointerToRawData and not past the end of the file, can be read;
// the rest is zero-filled memory when loaded and is treated as unmapped here.
//
// Resource tree, offsets relative to the start of the tree (the RVA of data
// directory 2), three levels: type, name, language.
//   Directory    (16 bytes) 12 bytes not read, u16 named-entry count, u16
//                id-entry count; then the entries, the named ones first
//   Entry        (8 bytes) u32 name: bit 31 set, offset of a name string in
//                bits 0-30; clear, an integer id in bits 0-15.
//                u32 target: bit 31 set, offset of the next-level directory in
//                bits 0-30; clear, offset of a data entry (language level only)
//   Name string  u16 length in code units, then that many UTF-16LE units
//   Data entry   (16 bytes) u32 RVA of the data, u32 size, u32 code page,
//                u32 reserved
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/bytes.h"

namespace morivane {

// Why a module could not be read. Each kind of damage has its own code.
enum class PeStatus {
    Ok = 0,
    NotMz,                // shorter than the 64-byte DOS header, or no "MZ" at offset 0
    BadPeOffset,          // e_lfanew leaves no room for the signature and file header
    NotPe,                // no "PE\0\0" at e_lfanew
    NotPe32,              // optional header missing, cut short, or not PE32 (magic 0x10B)
    SectionsPastEnd,      // the section table runs past the end of the file
    NoResources,          // no resource directory (fewer than 3 data directories, or RVA 0)
    ResourceRvaUnmapped,  // the resource tree's RVA lies in no section's file data
    DirectoryPastEnd,     // a directory, its entries, a name string or a data entry
                          // reaches past the file data of the tree's section
    DirectoryLoop,        // an entry leads to a directory already entered (a loop, or
                          // one directory shared by two entries)
    TooDeep,              // a language entry leads to a fourth-level directory
    DataAboveLanguage,    // a type or name entry leads to data instead of a directory
    EntryKindMismatch,    // a named entry among the id entries, or an id among the named
    DataUnmapped,         // a resource's bytes (RVA, size) lie outside every section's
                          // file data
};

// A short English name for the status, for tools and test output.
const char* PeStatusName(PeStatus status);

// A resource type or name as stored: an integer id, or a UTF-16 string.
struct ResourceName {
    bool isName = false;
    std::uint16_t id = 0;  // when !isName
    ByteSpan utf16;        // when isName: the code units, no terminator

    // The name as UTF-8 (see Utf16LeToUtf8), or "#<id>" in decimal for an id,
    // the form resource scripts and the Win32 lookup use for integer ids.
    std::string ToString() const;
};

// One leaf of the resource tree. The spans point into the file that was parsed.
struct Resource {
    ResourceName type;
    ResourceName name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;  // from the data entry, as stored (usually 0)
    std::uint32_t dataRva = 0;
    ByteSpan data;
};

// Well-known integer resource types.
inline constexpr std::uint16_t kResourceTypeVersion = 16;  // RT_VERSION
inline constexpr std::uint16_t kVersionResourceId = 1;     // VS_VERSION_INFO

// A type or name to look up: an integer id or an ASCII name. A named id
// refers to the text it was made from, which must outlive it.
class ResourceId {
  public:
    static ResourceId Number(std::uint16_t id) { return ResourceId(id, {}, false); }
    // `name`, or the integer id when it is "#" and decimal digits for a value
    // below 65536 ("#130"), as the Win32 lookup reads such names.
    static ResourceId Named(std::string_view name);

    // True when `stored` is this id, or a name equal to this one with ASCII
    // letters compared case-insensitively, as the Win32 lookup does (resource
    // compilers store names upper-cased). Non-ASCII characters must match
    // exactly, code unit for byte, which only Latin-1 text can.
    bool Matches(const ResourceName& stored) const;

  private:
    ResourceId(std::uint16_t id, std::string_view name, bool isName)
        : id_(id), name_(name), isName_(isName) {}
    std::uint16_t id_;
    std::string_view name_;
    bool isName_;
};

class PeModule {
  public:
    // Reads the headers, the section table and the whole resource tree of
    // `file`, checking every offset, count and size against the file before
    // it is used. Returns the module, or nothing with *status telling what is
    // wrong (see PeStatus); a damaged, looping or hostile tree is rejected
    // whole, never followed out of bounds. A module whose resource directory
    // is empty parses as a module with no resources. The result refers to
    // `file`, which must outlive it.
    static std::optional<PeModule> Parse(ByteSpan file, PeStatus* status = nullptr);

    // Every resource in tree order: types in directory order, within each
    // type its names, within each name its languages.
    const std::vector<Resource>& Resources() const { return resources_; }

    // The first resource (in tree order) whose type and name match, that is
    // the first language stored for them; nullptr when there is none.
    const Resource* Find(const ResourceId& type, const ResourceId& name) const;

    // The version resource (type 16, id 1, first language), or nullptr.
    const Resource* FindVersionResource() const {
        return Find(ResourceId::Number(kResourceTypeVersion),
                    ResourceId::Number(kVersionResourceId));
    }

  private:
    std::vector<Resource> resources_;
};

}  // namespace morivane
