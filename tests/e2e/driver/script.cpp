#include "tests/e2e/driver/script.h"

namespace morivane::e2e {

bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsCp932TrailByte(unsigned char byte) {
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

std::string QuoteText(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (IsCp932LeadByte(b) && i + 1 < bytes.size() &&
            IsCp932TrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
            out += bytes.substr(i, 2);
            ++i;
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if ((b >= 0x20 && b <= 0x7E) || (b >= 0xA1 && b <= 0xDF)) {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    out += '"';
    return out;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits one line (without its line end) into words. Returns an empty
// string on success, else what is wrong.
std::string SplitLine(std::string_view line, std::vector<std::string>& words) {
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == n || line[i] == '#') return {};
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const auto b = static_cast<unsigned char>(line[i]);
                if (IsCp932LeadByte(b) && i + 1 < n &&
                    IsCp932TrailByte(static_cast<unsigned char>(line[i + 1]))) {
                    word += line.substr(i, 2);
                    i += 2;
                } else if (b == '"') {
                    ++i;
                    closed = true;
                    break;
                } else if (b == '\\') {
                    if (i + 1 == n) return "backslash at the end of the line";
                    const char e = line[i + 1];
                    i += 2;
                    switch (e) {
                        case 'n':
                            word += '\n';
                            break;
                        case 'r':
                            word += '\r';
                            break;
                        case 't':
                            word += '\t';
                            break;
                        case '\\':
                            word += '\\';
                            break;
                        case '"':
                            word += '"';
                            break;
                        case 'x': {
                            const int hi = i < n ? HexValue(line[i]) : -1;
                            const int lo = i + 1 < n ? HexValue(line[i + 1]) : -1;
                            if (hi < 0 || lo < 0) return "\\x needs two hex digits";
                            word += static_cast<char>(hi * 16 + lo);
                            i += 2;
                            break;
                        }
                        default:
                            return std::string("unknown escape \\") + e;
                    }
                } else {
                    word += static_cast<char>(b);
                    ++i;
                }
            }
            if (!closed) return "unterminated quote";
            if (i < n && line[i] != ' ' && line[i] != '\t') return "text right after a quote";
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t') {
                if (line[i] == '"') return "quote inside a bare word";
                word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
}

}  // namespace

ParsedScript ParseScript(std::string_view text) {
    ParsedScript result;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ++lineNumber;
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;

        Step step;
        step.line = lineNumber;
        const std::string error = SplitLine(line, step.words);
        if (!error.empty()) {
            result.steps.clear();
            result.error = error;
            result.errorLine = lineNumber;
            return result;
        }
        if (!step.words.empty()) result.steps.push_back(std::move(step));
    }
    return result;
}

}  // namespace morivane::e2e
