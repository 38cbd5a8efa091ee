// Encodings of the ordinary log: the locale's narrow encoding by default, or
// UTF-8 / UTF-16 when the file starts with a byte-order mark.
#pragma once

#include <string>

namespace corvalis {

enum class LogEncoding { Ansi, Utf8Bom, Utf16LeBom, Utf16BeBom };

// Detects the mark and returns the text without it: ANSI and UTF-8 bytes as
// they are, UTF-16 converted to UTF-8.
std::string DecodeLogFile(const std::string& raw, LogEncoding& encoding);
// The inverse: the mark (if any) followed by the text in that encoding.
std::string EncodeLogFile(const std::string& utf8OrAnsi, LogEncoding encoding);

// UTF-8 to the locale's narrow encoding; characters it cannot hold become '?'.
std::string Utf8ToNarrow(const std::string& utf8);

std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian);
std::string Utf8ToUtf16(const std::string& utf8, bool bigEndian);

}  // namespace corvalis
