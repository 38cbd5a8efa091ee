#include "textcodec.h"

#include <iconv.h>
#include <langinfo.h>

#include <cstdint>
#include <cstring>

namespace corvalis {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// An iconv converter, closed with its owner.
class Converter {
public:
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    // iconv_open's failure value is (iconv_t)-1.
    bool Valid() const {
        return cd != reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
    }
    iconv_t Get() const { return cd; }

private:
    iconv_t cd;
};

// Decodes one UTF-8 sequence at s[i]; invalid bytes give U+FFFD and advance by one.
char32_t NextCodePoint(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = b0 < 0x80           ? 1
              : (b0 >> 5) == 0x6  ? 2
              : (b0 >> 4) == 0xE  ? 3
              : (b0 >> 3) == 0x1E ? 4
                                  : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
        ++i;
        return kReplacement;
    }
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(len);
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUnit(std::string& out, std::uint16_t u, bool bigEndian) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

bool StartsWith(const std::string& s, const char* prefix, std::size_t n) {
    return s.size() >= n && std::memcmp(s.data(), prefix, n) == 0;
}

}  // namespace

std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](std::size_t i) -> std::uint16_t {
        const auto a = static_cast<unsigned char>(bytes[i]),
                   b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<std::uint16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint16_t v = unit(i + 2);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t{u});
    }
    return out;
}

std::string Utf8ToUtf16(const std::string& utf8, bool bigEndian) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendUnit(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)), bigEndian);
            AppendUnit(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)), bigEndian);
        } else {
            AppendUnit(out, static_cast<std::uint16_t>(cp), bigEndian);
        }
    }
    return out;
}

std::string DecodeLogFile(const std::string& raw, LogEncoding& encoding) {
    if (StartsWith(raw, "\xEF\xBB\xBF", 3)) {
        encoding = LogEncoding::Utf8Bom;
        return raw.substr(3);
    }
    if (StartsWith(raw, "\xFF\xFE", 2)) {
        encoding = LogEncoding::Utf16LeBom;
        return Utf16ToUtf8(raw.substr(2), false);
    }
    if (StartsWith(raw, "\xFE\xFF", 2)) {
        encoding = LogEncoding::Utf16BeBom;
        return Utf16ToUtf8(raw.substr(2), true);
    }
    encoding = LogEncoding::Ansi;
    return raw;
}

std::string EncodeLogFile(const std::string& text, LogEncoding encoding) {
    switch (encoding) {
        case LogEncoding::Utf8Bom: return "\xEF\xBB\xBF" + text;
        case LogEncoding::Utf16LeBom: return std::string("\xFF\xFE", 2) + Utf8ToUtf16(text, false);
        case LogEncoding::Utf16BeBom: return std::string("\xFE\xFF", 2) + Utf8ToUtf16(text, true);
        case LogEncoding::Ansi: break;
    }
    return text;
}

std::string Utf8ToNarrow(const std::string& utf8) {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0))
        return utf8;
    const Converter converter(codeset ? codeset : "ASCII", "UTF-8");
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t cp = NextCodePoint(utf8, i);
        if (cp < 0x80 && cp != kReplacement) {
            out += static_cast<char>(cp);
            continue;
        }
        bool converted = false;
        if (converter.Valid() && cp != kReplacement) {
            std::string one = utf8.substr(start, i - start);
            char buf[8];
            char* in = one.data();
            std::size_t inLeft = one.size();
            char* outPtr = buf;
            std::size_t outLeft = sizeof buf;
            if (iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft) !=
                    static_cast<std::size_t>(-1) &&
                inLeft == 0) {
                out.append(buf, sizeof buf - outLeft);
                converted = true;
            }
            iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
        }
        if (!converted) out += '?';
    }
    return out;
}

}  // namespace corvalis
