// ProbeImageSize on arbitrary bytes: never reads outside them, and a size it
// accepts is one the rest of the viewer can use.
#include <cstdint>
#include <vector>

#include "fuzzcheck.h"
#include "tilesource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int32_t width = -1;
    std::int32_t height = -1;
    const bool known =
        corvalis::ProbeImageSize(data, static_cast<std::int64_t>(size), width, height);
    if (known) {
        // WebP headers carry 14 bits per side; PNG and JPEG are held to 8191.
        FUZZ_CHECK(width >= 1 && width <= 16384 && height >= 1 && height <= 16384);
        const bool pngOrJpeg =
            (data[0] == 0x89 && data[1] == 0x50) || (data[0] == 0xFF && data[1] == 0xD8);
        if (pngOrJpeg) FUZZ_CHECK(width <= 8191 && height <= 8191);
    }
    // A shorter count over the same bytes must not read past it: the prefix is
    // copied so that AddressSanitizer sees its end.
    if (size > 0) {
        const std::vector<std::uint8_t> prefix(data, data + size / 2);
        std::int32_t w2 = -1;
        std::int32_t h2 = -1;
        corvalis::ProbeImageSize(prefix.data(), static_cast<std::int64_t>(prefix.size()), w2, h2);
    }
    std::int32_t w3 = -1;
    std::int32_t h3 = -1;
    FUZZ_CHECK(!corvalis::ProbeImageSize(nullptr, static_cast<std::int64_t>(size), w3, h3));
    FUZZ_CHECK(w3 == 0 && h3 == 0);
    FUZZ_CHECK(!corvalis::ProbeImageSize(data, -static_cast<std::int64_t>(size) - 1, w3, h3));
    return 0;
}
