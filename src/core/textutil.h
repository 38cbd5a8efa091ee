// Small text helpers with ASCII-only case rules, as the store formats expect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvalis {

std::string AsciiLower(std::string_view s);
bool AsciiIEquals(std::string_view a, std::string_view b);
bool AsciiIEndsWith(std::string_view s, std::string_view suffix);
// Trims blanks and control characters (bytes <= 0x20) at both ends.
std::string_view Trim(std::string_view s);

bool IsPathSeparator(char c);
// Folder part including its trailing separator ("" when there is none).
std::string_view DirPart(std::string_view path);
// File name part after the last separator.
std::string_view FileNamePart(std::string_view path);
// Extension from the last "." of the file name part, dot included ("" when none).
std::string_view ExtensionPart(std::string_view path);

// The C library's atol rule: leading white space, an optional sign, then
// digits up to the first non-digit; no digits reads as 0. Saturates instead
// of overflowing.
std::int64_t AtolLike(std::string_view s);

// A whole decimal integer (blanks around it allowed); nothing otherwise.
std::optional<std::int64_t> ParseStrictInteger(std::string_view s);

// Untrusted text made safe to show on a terminal, in the log or in a window:
// C0 controls and DEL become \n, \r, \t or \x1b; C1 controls (U+0080 to
// U+009F) and the line and paragraph separators become \u009b, \u2028; every
// byte that is not part of well-formed UTF-8 becomes \xe9. Printable text,
// UTF-8 included, and the backslash itself are kept as they are, so the result
// holds no control character and is well-formed UTF-8 (escaping it again
// changes nothing).
std::string EscapeControl(std::string_view text);

// The text when it fits in limit bytes; otherwise its longest start that ends
// on a character boundary and leaves room for "..." within limit, then "...".
// limit is at least 3.
std::string CutText(std::string_view text, std::size_t limit);

// sscanf("%lf,%lf,%lf,%lf") in the C locale: four numbers, each comma right
// after its number. True when all four were read.
bool ScanFourDoubles(const std::string& s, double out[4]);

}  // namespace corvalis
