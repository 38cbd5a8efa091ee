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
}  // namespace

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
