// Narrow text in code page 932 (Shift-JIS), the system code page of the
// Japanese Windows the updater runs on, as Windows treats it in file names:
// double-byte characters are taken whole, and only ASCII letters match
// regardless of case. The second byte of a double-byte character may be an
// ASCII letter ("ア" is 0x83 0x41, "ヂ" is 0x83 0x61), so folding byte by byte
// would make different names one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morivane {

// True for the bytes that open a double-byte character in code page 932.
constexpr bool IsCp932LeadByte(std::uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// `name` with its ASCII letters in lower case; both bytes of each double-byte
// character stay as they are. A lead byte at the very end counts as one byte.
inline std::string FoldAsciiCase(std::string_view name) {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(folded[i]);
        if (IsCp932LeadByte(b) && i + 1 < folded.size()) {
            ++i;  // the trail byte is part of the character
        } else if (b >= 'A' && b <= 'Z') {
            folded[i] = static_cast<char>(b - 'A' + 'a');
        }
    }
    return folded;
}

// True when `a` and `b` name the same file for Windows: equal once their
// ASCII letters are folded, double-byte characters compared exactly.
inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && FoldAsciiCase(a) == FoldAsciiCase(b);
}

}  // namespace morivane
