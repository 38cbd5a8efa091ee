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

// sscanf("%lf,%lf,%lf,%lf") in the C locale: four numbers, each comma right
// after its number. True when all four were read.
bool ScanFourDoubles(const std::string& s, double out[4]);

}  // namespace corvalis
