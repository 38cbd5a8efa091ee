// EscapeControl and CutText on arbitrary bytes: what they give back holds no
// control character, is well-formed UTF-8 (as glibc's iconv judges it), is
// left alone by a second escape, keeps clean text unchanged, and a cut fits
// its limit. The first byte picks the cut's limit; the rest is the text.
#include <iconv.h>

#include <cstdint>
#include <string>

#include "fuzzcheck.h"
#include "textutil.h"

namespace {

// Code points of well-formed UTF-8; false for anything else.
bool DecodeStrictly(const std::string& text, std::u32string& out) {
    static const iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.assign(text.size(), U'\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = reinterpret_cast<char*>(out.data());
    std::size_t outLeft = out.size() * sizeof(char32_t);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return false;
    out.resize(out.size() - outLeft / sizeof(char32_t));
    return inLeft == 0;
}

bool IsShownAsEscape(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t limit = 3 + data[0] % 64;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string shown = corvalis::EscapeControl(text);
    std::u32string points;
    FUZZ_CHECK(DecodeStrictly(shown, points));
    for (const char32_t c : points) FUZZ_CHECK(!IsShownAsEscape(c));
    FUZZ_CHECK(corvalis::EscapeControl(shown) == shown);
    FUZZ_CHECK(shown.size() >= text.size());
    std::u32string original;
    bool clean = DecodeStrictly(text, original);
    for (const char32_t c : original) clean = clean && !IsShownAsEscape(c);
    if (clean) FUZZ_CHECK(shown == text);

    const std::string cut = corvalis::CutText(shown, limit);
    FUZZ_CHECK(cut.size() <= limit);
    if (shown.size() <= limit) {
        FUZZ_CHECK(cut == shown);
    } else {
        FUZZ_CHECK(cut.size() >= 3 && cut.compare(cut.size() - 3, 3, "...") == 0);
        FUZZ_CHECK(shown.compare(0, cut.size() - 3, cut, 0, cut.size() - 3) == 0);
        FUZZ_CHECK(DecodeStrictly(cut, points));
    }
    return 0;
}
