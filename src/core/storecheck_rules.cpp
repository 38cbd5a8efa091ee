#include "storecheck_rules.h"

#include <algorithm>
#include <cmath>

#include "imageformat.h"
#include "logging.h"
#include "textutil.h"
#include "webmercator.h"

namespace corvalis {

const char* CheckFormatName(CheckFormat format) {
    switch (format) {
        case CheckFormat::Png: return "png";
        case CheckFormat::Jpg: return "jpg";
        case CheckFormat::Webp: return "webp";
        case CheckFormat::Gif: return "gif";
        case CheckFormat::GzipVector: return "gzip-vector";
        case CheckFormat::Other: break;
    }
    return "other";
}

CheckFormat CheckFormatOf(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr) return CheckFormat::Other;
    switch (SniffTileFormat(bytes, count)) {
        case TileFormat::Png: return CheckFormat::Png;
        case TileFormat::Jpeg: return CheckFormat::Jpg;
        case TileFormat::WebP: return CheckFormat::Webp;
        case TileFormat::Gif: return CheckFormat::Gif;
        case TileFormat::Gzip:
        case TileFormat::Zlib: return CheckFormat::GzipVector;
        case TileFormat::Other: break;
    }
    return CheckFormat::Other;
}

void Finding::Add(TileSample sample) {
    ++count;
    if (samples.size() == kSampleLimit && sample.order >= samples.back().order) return;
    const auto at =
        std::upper_bound(samples.begin(), samples.end(), sample.order,
                         [](std::uint64_t order, const TileSample& s) { return order < s.order; });
    samples.insert(at, std::move(sample));
    if (samples.size() > kSampleLimit) samples.pop_back();
}

std::int64_t CheckReport::Holes() const {
    std::int64_t holes = 0;
    for (const LevelFacts& level : levels) holes += level.holes;
    return holes;
}

std::int64_t CheckReport::ProblemCount() const {
    return undecodable.count + formatMismatch.count + sizeMismatch.count + outsideGrid.count +
           duplicateRows.count + static_cast<std::int64_t>(metadata.size()) + (noIndex ? 1 : 0) +
           (IntegrityFailed() ? 1 : 0);
}

FormatRules::FormatRules(const std::optional<std::string>& statedFormat) {
    if (!statedFormat) return;
    const std::string f(Trim(*statedFormat));
    const auto bit = [](CheckFormat format) { return Bit(format); };
    if (f == "png" || f == "image/png")
        allowed_ = bit(CheckFormat::Png);
    else if (f == "jpg" || f == "jpeg" || f == "image/jpeg")
        allowed_ = bit(CheckFormat::Jpg);
    else if (f == "webp" || f == "image/webp")
        allowed_ = bit(CheckFormat::Webp);
    else if (f == "gif" || f == "image/gif")
        allowed_ = bit(CheckFormat::Gif);
    else if (f == "pbf" || f == "mvt")  // vector tiles, compressed or plain protobuf
        allowed_ = bit(CheckFormat::GzipVector) | bit(CheckFormat::Other);
    else
        allowed_ = 0;
    vector_ = f == "pbf" || f == "mvt";
}

bool FormatRules::Raster(CheckFormat format) const {
    if (format == CheckFormat::GzipVector) return false;
    return format != CheckFormat::Other || !vector_;
}

namespace {

// Column and row of a longitude and latitude as fractions of tiles at level z.
double TileColumnOf(double lon, double n) {
    return (lon + 180.0) / 360.0 * n;
}
double TileRowOf(double lat, double n) {
    const double phi = std::clamp(lat, -kMaxLatitude, kMaxLatitude) * kPi / 180.0;
    return (1.0 - std::log(std::tan(phi) + 1.0 / std::cos(phi)) / kPi) / 2.0 * n;
}

void CheckZoomRange(const StatedMetadata& stated, CheckReport& report, int lowest, int deepest) {
    if (stated.minZoom && *stated.minZoom != lowest)
        report.metadata.push_back(Format("minzoom %lld, but the lowest level with tiles is %d",
                                         static_cast<long long>(*stated.minZoom), lowest));
    if (stated.maxZoom && *stated.maxZoom != deepest)
        report.metadata.push_back(Format("maxzoom %lld, but the deepest level with tiles is %d",
                                         static_cast<long long>(*stated.maxZoom), deepest));
}

void CheckBounds(const StatedMetadata& stated, CheckReport& report, int deepest) {
    if (!stated.boundsGiven) return;
    if (!stated.boundsUsable) {
        report.metadata.emplace_back("bounds cannot be read (west,south,east,north expected)");
        return;
    }
    const LevelFacts& level = report.levels[static_cast<std::size_t>(deepest)];
    const double n = TilesAcross(deepest);
    const double off[] = {
        TileColumnOf(stated.west, n) - static_cast<double>(level.minX),
        TileColumnOf(stated.east, n) - static_cast<double>(level.maxX + 1),
        TileRowOf(stated.north, n) - static_cast<double>(level.minY),
        TileRowOf(stated.south, n) - static_cast<double>(level.maxY + 1),
    };
    double furthest = 0.0;
    for (const double d : off) furthest = std::max(furthest, std::fabs(d));
    if (furthest > 0.5)
        report.metadata.push_back(
            Format("bounds %.6g,%.6g,%.6g,%.6g lie %.1f tiles from the tiles' extent at level %d",
                   stated.west, stated.south, stated.east, stated.north, furthest, deepest));
}

void CheckFormatPresent(const StatedMetadata& stated, CheckReport& report) {
    if (!stated.format) return;
    const FormatRules rules(stated.format);
    std::int64_t matching = 0;
    for (const LevelFacts& level : report.levels)
        for (std::size_t f = 0; f < kCheckFormats; ++f)
            if (rules.Matches(static_cast<CheckFormat>(f))) matching += level.formats[f];
    if (matching == 0 && report.tiles > 0)
        report.metadata.push_back("format " + *stated.format + ", but no tile has it");
}

}  // namespace

void CheckMetadata(const StatedMetadata& stated, CheckReport& report) {
    int lowest = -1, deepest = -1;
    for (int z = 0; z < kZoomLevels; ++z) {
        if (!report.levels[static_cast<std::size_t>(z)].hasExtent) continue;
        if (lowest < 0) lowest = z;
        deepest = z;
    }
    if (deepest >= 0) {
        CheckZoomRange(stated, report, lowest, deepest);
        CheckBounds(stated, report, deepest);
    }
    CheckFormatPresent(stated, report);
}

}  // namespace corvalis
