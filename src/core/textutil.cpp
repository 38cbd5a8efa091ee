#include "textutil.h"

#include <locale.h>
#include <clocale>
#include <cstdlib>
#include <limits>

namespace corvalis {

namespace {
char LowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

unsigned char Byte(std::string_view s, std::size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
}

bool InRange(unsigned char b, unsigned char low, unsigned char high) {
    return b >= low && b <= high;
}

// Length of the well-formed UTF-8 sequence of two to four bytes at s[i]
// (shortest form, no surrogates, at most U+10FFFF); 0 when there is none.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
    const unsigned char b0 = Byte(s, i), b1 = Byte(s, i + 1);
    std::size_t length = 0;
    bool secondOk = false;
    if (InRange(b0, 0xC2, 0xDF)) {
        length = 2, secondOk = InRange(b1, 0x80, 0xBF);
    } else if (InRange(b0, 0xE0, 0xEF)) {
        length = 3;
        secondOk = b0 == 0xE0   ? InRange(b1, 0xA0, 0xBF)
                   : b0 == 0xED ? InRange(b1, 0x80, 0x9F)
                                : InRange(b1, 0x80, 0xBF);
    } else if (InRange(b0, 0xF0, 0xF4)) {
        length = 4;
        secondOk = b0 == 0xF0   ? InRange(b1, 0x90, 0xBF)
                   : b0 == 0xF4 ? InRange(b1, 0x80, 0x8F)
                                : InRange(b1, 0x80, 0xBF);
    }
    if (!secondOk) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!InRange(Byte(s, i + k), 0x80, 0xBF)) return 0;
    return length;
}

void AppendHexEscape(std::string& out, char kind, unsigned value, int digits) {
    out += '\\';
    out += kind;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += "0123456789abcdef"[(value >> shift) & 0xF];
}

// Appends the character at s[i] to out, escaped where it must be; returns its length.
std::size_t EscapeOne(std::string_view s, std::size_t i, std::string& out) {
    const unsigned char b = Byte(s, i);
    if (b >= 0x20 && b < 0x7F) {
        out += static_cast<char>(b);
        return 1;
    }
    if (b == '\n' || b == '\r' || b == '\t') {
        out += '\\';
        out += b == '\n' ? 'n' : b == '\r' ? 'r' : 't';
        return 1;
    }
    const std::size_t length = b < 0x80 ? 0 : SequenceLength(s, i);
    if (length == 0) {
        AppendHexEscape(out, 'x', b, 2);
        return 1;
    }
    const unsigned b1 = Byte(s, i + 1), b2 = Byte(s, i + 2);
    if (b == 0xC2 && b1 < 0xA0) {
        AppendHexEscape(out, 'u', b1, 4);  // C1 control: U+0080 to U+009F
    } else if (b == 0xE2 && b1 == 0x80 && (b2 == 0xA8 || b2 == 0xA9)) {
        AppendHexEscape(out, 'u', 0x2000u | (b2 - 0x80u), 4);  // U+2028, U+2029
    } else {
        out.append(s.substr(i, length));
    }
    return length;
}

bool NeedsEscape(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return true;
    }
    return false;
}

}  // namespace

std::string EscapeControl(std::string_view text) {
    if (!NeedsEscape(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) i += EscapeOne(text, i, out);
    return out;
}

std::string CutText(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t keep = limit < 3 ? 0 : limit - 3;
    while (keep > 0 && (Byte(text, keep) & 0xC0) == 0x80) --keep;  // not inside a character
    std::string out(text.substr(0, keep));
    out += "...";
    return out;
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool AsciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

bool AsciiIEndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && AsciiIEquals(s.substr(s.size() - suffix.size()), suffix);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
    return s;
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

std::string_view DirPart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsPathSeparator(path[i - 1])) return path.substr(0, i);
    return {};
}

std::string_view FileNamePart(std::string_view path) {
    return path.substr(DirPart(path).size());
}

std::string_view ExtensionPart(std::string_view path) {
    std::string_view name = FileNamePart(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::int64_t AtolLike(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsCSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
    std::int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value < kLimit) value = value * 10 + (s[i] - '0');
    }
    return negative ? -value : value;
}

std::optional<std::int64_t> ParseStrictInteger(std::string_view s) {
    s = Trim(s);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return std::nullopt;
        value = value * 10 + (s[i] - '0');
    }
    return negative ? -value : value;
}

bool ScanFourDoubles(const std::string& s, double out[4]) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const char* p = s.c_str();
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            if (*p != ',') return false;
            ++p;
        }
        char* end = nullptr;
        double v = strtod_l(p, &end, cLocale);
        if (end == p) return false;
        out[k] = v;
        p = end;
    }
    return true;
}

}  // namespace corvalis
