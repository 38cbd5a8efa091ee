// Tiles of the Earth picture in Web Mercator, for the fixture stores and the
// benchmarks' photo stores: an equirectangular picture of the world sampled
// bilinearly into tile (z, x, y).
#pragma once

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline const char* const kDefaultEarthPicture = "/usr/share/xplanet/images/earth.jpg";

// An equirectangular picture of the world, or a drawn stand-in when the
// picture is not installed.
QImage LoadWorld(const std::string& path);

// The picture at (sx, sy), wrapping around in x and clamped in y.
QRgb SampleBilinear(const QImage& src, double sx, double sy);

// Tile (z, x, y) of the world in Web Mercator, size pixels a side, sampled
// from the equirectangular picture.
QImage RenderEarthTile(const QImage& world, int z, int x, int y, int size);

// The picture encoded by Qt ("PNG", "JPG", ...; quality -1 for the default).
std::vector<std::uint8_t> EncodeImage(const QImage& img, const char* format, int quality);

}  // namespace testsupport
