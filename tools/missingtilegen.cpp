// Writes the placeholder picture shown for absent tiles: a 256 x 256, 4-bit
// BMP with the standard 16-colour palette, white with a light grey frame that
// is 5 pixels deep along the top and 3 pixels wide elsewhere.
// Usage: missingtilegen <output.bmp>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

constexpr int kSize = 256;
constexpr int kTopDepth = 5;
constexpr int kSideDepth = 3;
constexpr std::uint8_t kWhite = 15;
constexpr std::uint8_t kLightGrey = 7;

// The classic 16-colour palette as red, green, blue.
constexpr std::array<std::array<std::uint8_t, 3>, 16> kPalette = {{
    {0, 0, 0},
    {128, 0, 0},
    {0, 128, 0},
    {128, 128, 0},
    {0, 0, 128},
    {128, 0, 128},
    {0, 128, 128},
    {192, 192, 192},
    {128, 128, 128},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {255, 255, 255},
}};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFFu);
    Put16(out, v >> 16);
}

std::uint8_t ColourAt(int x, int y) {
    const bool frame =
        y < kTopDepth || x < kSideDepth || x >= kSize - kSideDepth || y >= kSize - kSideDepth;
    return frame ? kLightGrey : kWhite;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: missingtilegen <output.bmp>\n");
        return 2;
    }
    constexpr std::uint32_t rowBytes = kSize / 2;  // two pixels per byte, already 4-aligned
    constexpr std::uint32_t pixelOffset = 14 + 40 + 16 * 4;
    constexpr std::uint32_t pixelBytes = rowBytes * kSize;

    std::vector<std::uint8_t> out;
    out.reserve(pixelOffset + pixelBytes);
    // File header.
    out.push_back('B');
    out.push_back('M');
    Put32(out, pixelOffset + pixelBytes);
    Put32(out, 0);
    Put32(out, pixelOffset);
    // Info header.
    Put32(out, 40);
    Put32(out, kSize);
    Put32(out, kSize);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, 0);  // no compression
    Put32(out, pixelBytes);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 16);
    Put32(out, 0);
    for (const auto& c : kPalette) {
        out.push_back(c[2]);
        out.push_back(c[1]);
        out.push_back(c[0]);
        out.push_back(0);
    }
    // Rows bottom-up, high nibble first.
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; x += 2)
            out.push_back(static_cast<std::uint8_t>((ColourAt(x, y) << 4) | ColourAt(x + 1, y)));

    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file) {
        std::fprintf(stderr, "missingtilegen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
