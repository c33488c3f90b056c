// Lookups in a version resource (VS_VERSIONINFO), with the results that the
// Win32 sequence GetFileVersionInfoA / VerQueryValueA gives, checked against
// the resource's bounds at every step.
//
// Block layout (32-bit form; little-endian; every offset that is aligned is
// aligned to 4 bytes from the start of the resource):
//   u16 wLength       bytes of the whole block, its children included
//   u16 wValueLength  length of the value: UTF-16 units when wType != 0
//                     (text), bytes when wType == 0 (binary)
//   u16 wType
//   szKey             UTF-16 text with its NUL unit
//   (aligned) value   wValueLength units or bytes
//   (aligned) children, each a block, one after another, each starting
//                     wLength rounded up to 4 after the previous one
// The root's key is "VS_VERSION_INFO" and its value a VS_FIXEDFILEINFO. Below
// it: "StringFileInfo" holding string tables keyed by eight hex digits
// (language then code page), which hold the text values ("FileVersion", ...);
// and "VarFileInfo" holding "Translation", whose binary value is an array of
// u32 entries, language in the low half and code page in the high half.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/bytes.h"

namespace morivane {

enum class VersionStatus {
    Ok = 0,
    BadModule,          // the module could not be parsed (see PeStatus)
    NoVersionResource,  // the module has no resource of type 16, id 1
    Malformed,          // a block on the way is cut short, overruns its parent, does
                        // not advance, or has a key without its NUL
    NotFound,           // a key of the path has no block of that name
    NoTranslation,      // "\VarFileInfo\Translation" is missing or holds no whole entry
    NoFileVersion,      // no FileVersion under the first translation
    EmptyFileVersion,   // the FileVersion value has length 0
};

// A short English name for the status, for tools and test output.
const char* VersionStatusName(VersionStatus status);

// The value of one block, as VerQueryValue reports it.
struct VersionValue {
    ByteSpan bytes;            // the value's bytes, cut at the end of its block
    std::uint16_t length = 0;  // wValueLength as stored (units for text, bytes for binary)
    bool isText = false;       // wType != 0
};

// The value of the block at `path` ("\StringFileInfo\041104B0\FileVersion";
// backslash-separated, empty components skipped; "" or "\" names the root)
// inside `block`, a whole version resource. Keys compare case-insensitively
// in ASCII and must match in full. Every block walked through, and every
// sibling passed on the way, is checked against its parent: a violation gives
// Malformed, a missing key NotFound. A value that the block has no room for
// comes back empty, with its stored length, as on Win32.
std::optional<VersionValue> QueryVersionValue(ByteSpan block, std::string_view path,
                                              VersionStatus* status = nullptr);

struct Translation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
};

// The first entry of "\VarFileInfo\Translation". A value of length 0, or with
// fewer than 4 bytes in its block, gives NoTranslation (the Win32 caller would
// read past such a value).
std::optional<Translation> ReadFirstTranslation(ByteSpan block, VersionStatus* status = nullptr);

// "\StringFileInfo\LLLLCCCC\FileVersion" for a translation: language, then
// code page, each as four upper-case hex digits.
std::string FileVersionPath(Translation translation);

// The FileVersion text of the version resource `block`: under the first
// translation only, with no fallback to any other translation or to a fixed
// language. A text value (wType 1) is cut at its first NUL or after its
// length; it is returned as UTF-8, which is the ANSI text for ASCII versions
// such as "1, 0, 0, 1" (other characters differ from the code page bytes that
// Win32 would give). A binary value is taken byte for byte up to its first
// NUL byte, as the ANSI lookup hands it over unconverted. Returns nothing
// with *status set when any step fails; a length of 0 fails.
std::optional<std::string> ReadFileVersion(ByteSpan block, VersionStatus* status = nullptr);

// Parses `module` as a PE file and reads the FileVersion of its version
// resource, as GetFileVersionString does on Win32. Returns nothing with
// *status set (BadModule when parsing fails) otherwise.
std::optional<std::string> ReadModuleFileVersion(ByteSpan module, VersionStatus* status = nullptr);

}  // namespace morivane
