#include "jsonscan.h"

#include <cstdint>

namespace corvalis {

namespace {

class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}

    void SkipBlanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool Take(char c) {
        SkipBlanks();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool At(char c) {
        SkipBlanks();
        return i_ < s_.size() && s_[i_] == c;
    }

    // A string at the current position; decoded into out unless it is null.
    bool String(std::string* out);
    // Any value: a string, a container (brackets counted, strings inside skipped)
    // or a number or literal.
    bool SkipValue();

private:
    bool Escape(std::string* out);
    bool Hex4(std::uint32_t& v);
    static void PutUtf8(std::uint32_t cp, std::string& out);

    std::string_view s_;
    std::size_t i_ = 0;
};

bool Scanner::String(std::string* out) {
    if (!Take('"')) return false;
    while (i_ < s_.size()) {
        const char c = s_[i_++];
        if (c == '"') return true;
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (c == '\\') {
            if (!Escape(out)) return false;
        } else if (out) {
            out->push_back(c);
        }
    }
    return false;
}

bool Scanner::Hex4(std::uint32_t& v) {
    if (s_.size() - i_ < 4) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
        const char c = s_[i_++];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

bool Scanner::Escape(std::string* out) {
    if (i_ >= s_.size()) return false;
    const char c = s_[i_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = kFrom.find(c); k != std::string_view::npos) {
        if (out) out->push_back(kTo[k]);
        return true;
    }
    std::uint32_t cp = 0;
    if (c != 'u' || !Hex4(cp)) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
        const std::size_t back = i_;
        i_ += 2;
        std::uint32_t low = 0;
        if (!Hex4(low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        else
            i_ = back;  // a lone high surrogate; the next escape stands on its own
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // unpaired surrogates
    if (out) PutUtf8(cp, *out);
    return true;
}

void Scanner::PutUtf8(std::uint32_t cp, std::string& out) {
    auto put = [&](std::uint32_t v) { out.push_back(static_cast<char>(v)); };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

bool Scanner::SkipValue() {
    SkipBlanks();
    if (i_ >= s_.size()) return false;
    if (s_[i_] == '"') return String(nullptr);
    if (s_[i_] != '{' && s_[i_] != '[') {
        const std::size_t from = i_;
        while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && s_[i_] != ']' && s_[i_] != ' ' &&
               s_[i_] != '\t' && s_[i_] != '\n' && s_[i_] != '\r')
            ++i_;
        return i_ > from;
    }
    std::size_t depth = 0;
    while (i_ < s_.size()) {
        const char c = s_[i_];
        if (c == '"') {
            if (!String(nullptr)) return false;
            continue;
        }
        ++i_;
        if (c == '{' || c == '[') ++depth;
        if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return false;
}

}  // namespace

namespace {

// Leaves the scanner at the value of the first member named key of the
// top-level object.
bool FindTopLevel(Scanner& sc, std::string_view key) {
    if (!sc.Take('{') || sc.At('}')) return false;
    for (;;) {
        std::string name;
        if (!sc.String(&name) || !sc.Take(':')) return false;
        if (name == key) return true;
        if (!sc.SkipValue() || !sc.Take(',')) return false;
    }
}

// One object of an array: its "id" string, when it has one. False when malformed.
bool ObjectId(Scanner& sc, std::optional<std::string>& id) {
    if (!sc.Take('{')) return false;
    if (sc.Take('}')) return true;
    for (;;) {
        std::string name;
        if (!sc.String(&name) || !sc.Take(':')) return false;
        if (name == "id" && !id && sc.At('"')) {
            std::string value;
            if (!sc.String(&value)) return false;
            id = std::move(value);
        } else if (!sc.SkipValue()) {
            return false;
        }
        if (!sc.Take(',')) return sc.Take('}');
    }
}

}  // namespace

std::optional<std::string> JsonTopLevelString(std::string_view json, std::string_view key) {
    Scanner sc(json);
    std::string value;
    if (!FindTopLevel(sc, key) || !sc.At('"') || !sc.String(&value)) return std::nullopt;
    return value;
}

std::vector<std::string> JsonVectorLayerIds(std::string_view json, std::size_t limit) {
    std::vector<std::string> ids;
    Scanner sc(json);
    if (!FindTopLevel(sc, "vector_layers") || !sc.Take('[') || sc.Take(']')) return ids;
    while (ids.size() < limit) {
        std::optional<std::string> id;
        if (!ObjectId(sc, id)) break;
        if (id) ids.push_back(std::move(*id));
        if (!sc.Take(',')) break;
    }
    return ids;
}

}  // namespace corvalis
