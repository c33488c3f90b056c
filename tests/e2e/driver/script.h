// Step scripts and transcript text of the end-to-end test driver.
//
// Both are byte text in code page 932 (Shift-JIS), the ANSI code page of the
// Japanese systems the updater runs on; the shell harness converts them from
// and to UTF-8. This part has no Windows calls, so it is unit-tested natively.
//
// Script format: one step per line, words separated by blanks or tabs. A word
// is either bare (any bytes up to the next blank; a backslash is an ordinary
// byte there, so Windows paths need no quoting) or quoted:
//   "..."  with the escapes \n \r \t \\ \" and \xHH (two hex digits, one byte).
// Inside quotes a double-byte character is taken whole, so a trail byte 0x5C
// (as in "表" = 95 5C) is part of the character, not an escape. A '#' at the
// start of a word makes the rest of the line a comment. Blank lines are
// skipped. Lines end with LF or CR LF.
//
// Transcript text: QuoteText writes a byte string in the same quoted form, so
// a transcript can be written by hand as the expected result: printable ASCII,
// halfwidth katakana and complete double-byte characters stay as they are;
// '"' and '\' and the control characters LF, CR, TAB get their escapes; every
// other byte (a lone lead byte, 0x80, 0xA0, 0xFD-0xFF, other controls) is
// written as \xHH with lowercase hex digits. The output is therefore always
// valid code page 932 text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morivane::e2e {

// True for a byte that starts a double-byte character in code page 932
// (0x81-0x9F and 0xE0-0xFC).
bool IsCp932LeadByte(unsigned char byte);

// True for a byte that can follow a lead byte (0x40-0x7E and 0x80-0xFC).
bool IsCp932TrailByte(unsigned char byte);

// Returns bytes as one quoted transcript word (see the format above). Never
// fails; any byte string, including invalid code page 932, has one quoting.
std::string QuoteText(std::string_view bytes);

// One non-empty line of a script: its 1-based line number and its words,
// quoted words already unescaped.
struct Step {
    int line = 0;
    std::vector<std::string> words;
};

// The outcome of ParseScript: the steps on success; on failure `error`
// is non-empty and `errorLine` names the offending line.
struct ParsedScript {
    std::vector<Step> steps;
    std::string error;
    int errorLine = 0;
};

// Splits a whole script into steps. Bad input (an unterminated quote, an
// unknown escape, a \x without two hex digits, a quote glued to a bare word)
// gives an error and no steps.
ParsedScript ParseScript(std::string_view text);

}  // namespace morivane::e2e
