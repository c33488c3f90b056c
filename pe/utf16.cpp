#include "pe/utf16.h"

namespace morivane {

namespace {

void AppendCodePoint(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsHighSurrogate(std::uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::string Utf16LeToUtf8(ByteSpan units) {
    constexpr std::uint32_t kReplacement = 0xFFFD;
    const std::size_t count = units.size() / 2;
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t u = LoadLe16(units.data() + 2 * i);
        if (IsHighSurrogate(u) && i + 1 < count) {
            const std::uint32_t next = LoadLe16(units.data() + 2 * (i + 1));
            if (IsLowSurrogate(next)) {
                AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendCodePoint(out, IsHighSurrogate(u) || IsLowSurrogate(u) ? kReplacement : u);
    }
    return out;
}

std::size_t Utf16LeLength(ByteSpan units) {
    const std::size_t count = units.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        if (LoadLe16(units.data() + 2 * i) == 0) return i;
    }
    return count;
}

bool Utf16LeEqualsIgnoringAsciiCase(ByteSpan units, std::string_view text) {
    auto lower = [](std::uint32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (units.size() != 2 * text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = LoadLe16(units.data() + 2 * i);
        const std::uint32_t byte = static_cast<unsigned char>(text[i]);
        if (unit > 0xFF || lower(unit) != lower(byte)) return false;
    }
    return true;
}

}  // namespace morivane
