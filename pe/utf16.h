// UTF-16LE text as stored in PE resources (resource names, version strings),
// turned into UTF-8 for the rest of the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "decode/bytes.h"

namespace morivane {

// The UTF-8 form of `units`, a run of little-endian UTF-16 code units (an odd
// trailing byte is ignored). Surrogate pairs become one four-byte sequence; a
// surrogate without its partner becomes U+FFFD. NUL units are kept: callers
// cut the text where they need to. ASCII passes through unchanged.
std::string Utf16LeToUtf8(ByteSpan units);

// The number of code units in `units` before the first NUL unit, or all of
// them when there is none.
std::size_t Utf16LeLength(ByteSpan units);

// True when `units` (little-endian UTF-16) holds exactly the characters of
// `text`, ASCII letters in either case, the way Windows matches resource
// names and version keys. Other characters must be equal; a unit above 0xFF
// matches no byte of `text`.
bool Utf16LeEqualsIgnoringAsciiCase(ByteSpan units, std::string_view text);

}  // namespace morivane
