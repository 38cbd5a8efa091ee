// The check's text report: a header, a table of the levels' tiles and one of
// their extents, the problems with their samples, then what is reported but
// is no problem. Every line fits in 80 columns but for texts from the store.
#include <algorithm>

#include "logging.h"
#include "storecheck.h"

namespace corvalis {

namespace {

using Lines = std::vector<std::string>;

// 1234567 as "1,234,567".
// Built by appending: the magnitude is taken unsigned (-INT64_MIN does not
// fit), and GCC 12 at -O3 warns falsely on string inserts.
std::string Grouped(std::int64_t value) {
    const auto magnitude = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                     : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string out;
    if (value < 0) out += '-';
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// A byte count in at most 6 characters: "812", "12.1K", "345K", "1.0M".
std::string Short(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes);
    static const char kUnits[] = "KMGTPE";
    double v = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (v /= 1024; v >= 1023.95 && unit + 1 < sizeof kUnits - 1; v /= 1024) ++unit;
    return Format(v < 99.95 ? "%.1f%c" : "%.0f%c", v, kUnits[unit]);
}

std::string Place(const TileSample& s) {
    return Format("%lld/%lld/%lld%s", static_cast<long long>(s.z), static_cast<long long>(s.x),
                  static_cast<long long>(s.y), s.stored ? " (stored)" : "");
}

std::string Formats(const LevelFacts& level, bool& mixed) {
    std::string one, all;
    int kinds = 0;
    for (std::size_t f = 0; f < kCheckFormats; ++f) {
        if (level.formats[f] == 0) continue;
        one = CheckFormatName(static_cast<CheckFormat>(f));
        all += (kinds++ > 0 ? ", " : "") + one + " " + Grouped(level.formats[f]);
    }
    mixed = kinds > 1;
    return mixed ? all : one;
}

std::string Sizes(const LevelFacts& level, bool& mixed) {
    std::string all;
    for (const SizeCount& s : level.sizes)
        all += (all.empty() ? "" : ", ") +
               Format("%dx%d %s", s.width, s.height, Grouped(s.tiles).c_str());
    if (level.otherSizes > 0)
        all += (all.empty() ? "" : ", ") + ("other " + Grouped(level.otherSizes));
    if (level.unsized > 0) all += (all.empty() ? "" : ", ") + ("unknown " + Grouped(level.unsized));
    const std::size_t kinds = level.sizes.size() + (level.otherSizes > 0) + (level.unsized > 0);
    mixed = kinds > 1;
    if (kinds == 0) return "-";
    if (mixed) return all;
    if (!level.sizes.empty()) return Format("%dx%d", level.sizes[0].width, level.sizes[0].height);
    return level.otherSizes > 0 ? "other" : "unknown";
}

void Header(const CheckReport& r, Lines& out) {
    out.push_back("check: " + r.store);
    out.push_back(Format("kind: %s; metadata format: %s; tile size: %dx%d", r.kind.c_str(),
                         r.statedFormat.empty() ? "none" : r.statedFormat.c_str(), r.tileWidth,
                         r.tileHeight));
    out.push_back("tiles: " + Grouped(r.tiles) + "; bytes: " + Grouped(r.bytes) + " (" +
                  Short(r.bytes) + "); " +
                  (r.decoded ? Format("decoded on %d threads", r.decodeThreads) : "not decoded"));
    if (r.interrupted) out.push_back("interrupted: this report covers the tiles read until then");
}

void LevelTable(const CheckReport& r, Lines& out) {
    out.push_back("");
    out.push_back("  z       tiles    bytes     min    mean     max  formats    sizes");
    for (std::size_t z = 0; z < r.levels.size(); ++z) {
        const LevelFacts& l = r.levels[z];
        if (l.tiles == 0) continue;
        bool mixedFormats = false, mixedSizes = false;
        const std::string formats = Formats(l, mixedFormats);
        const std::string sizes = Sizes(l, mixedSizes);
        out.push_back(Format("%3zu %11s %8s %7s %7s %7s  %-10s %s", z, Grouped(l.tiles).c_str(),
                             Short(l.bytes).c_str(), Short(l.minBytes).c_str(),
                             Short(l.bytes / l.tiles).c_str(), Short(l.maxBytes).c_str(),
                             mixedFormats ? "mixed" : formats.c_str(),
                             mixedSizes ? "mixed" : sizes.c_str()));
        if (mixedFormats) out.push_back("      formats: " + formats);
        if (mixedSizes) out.push_back("      sizes: " + sizes);
    }
    if (r.unplaced > 0)
        out.push_back("  and " + Grouped(r.unplaced) + " tiles whose stored zoom names no level");
}

void ExtentTable(const CheckReport& r, Lines& out) {
    out.push_back("");
    out.push_back("  z  columns               rows                       holes     outside");
    for (std::size_t z = 0; z < r.levels.size(); ++z) {
        const LevelFacts& l = r.levels[z];
        if (l.tiles == 0) continue;
        const std::string columns = l.hasExtent
                                        ? Format("%lld-%lld", static_cast<long long>(l.minX),
                                                 static_cast<long long>(l.maxX))
                                        : "-";
        const std::string rows = l.hasExtent ? Format("%lld-%lld", static_cast<long long>(l.minY),
                                                      static_cast<long long>(l.maxY))
                                             : "-";
        out.push_back(Format("%3zu  %-21s %-21s %11s %11s", z, columns.c_str(), rows.c_str(),
                             Grouped(l.holes).c_str(), Grouped(l.outside).c_str()));
    }
}

void Kind(const std::string& title, const std::string& value, Lines& out) {
    const std::size_t width = 56;
    out.push_back("  " + title + std::string(title.size() < width ? width - title.size() : 1, ' ') +
                  value);
}

void Samples(const Finding& f, Lines& out) {
    for (const TileSample& s : f.samples)
        out.push_back("      " + Place(s) + (s.note.empty() ? "" : "  " + s.note));
    if (f.count > static_cast<std::int64_t>(f.samples.size()))
        out.push_back("      and " +
                      Grouped(f.count - static_cast<std::int64_t>(f.samples.size())) + " more");
}

void TileProblem(const std::string& title, const Finding& f, Lines& out) {
    Kind(title, Grouped(f.count), out);
    Samples(f, out);
}

void Problems(const CheckReport& r, Lines& out) {
    out.push_back("");
    const std::int64_t n = r.ProblemCount();
    out.push_back("problems: " + (n == 0 ? std::string("none") : Grouped(n)));
    Kind("undecodable tiles", Grouped(r.undecodable.count) + (r.decoded ? "" : " (not decoded)"),
         out);
    Samples(r.undecodable, out);
    if (r.undecodable.count > 0) out.push_back("    by reason:");
    if (r.undecodable.count > 0)
        for (const auto& [reason, count] : r.undecodableReasons)
            out.push_back("    " + Format("%9s", Grouped(count).c_str()) + "  " + reason);
    TileProblem(r.statedFormat.empty() ? "tiles of another format than the metadata's"
                                       : "tiles of another format than " + r.statedFormat,
                r.formatMismatch, out);
    TileProblem(Format("tiles of another pixel size than %dx%d", r.tileWidth, r.tileHeight),
                r.sizeMismatch, out);
    TileProblem("tiles outside the world grid", r.outsideGrid, out);
    TileProblem("duplicate (z, x, y) rows (beyond the first)", r.duplicateRows, out);
    Kind("metadata disagreeing with the tiles",
         Grouped(static_cast<std::int64_t>(r.metadata.size())), out);
    for (const std::string& text : r.metadata) out.push_back("      " + text);
    Kind("no usable tile index (reads scan the table)", r.noIndex ? "yes" : "no", out);
    Kind("integrity (PRAGMA quick_check)",
         r.integrity ? (*r.integrity == "ok" ? "ok" : "failed") : "not run", out);
    if (r.integrity && *r.integrity != "ok") out.push_back("      " + *r.integrity);
    if (!r.scanError.empty()) out.push_back("      the scan ended early: " + r.scanError);
}

void NotProblems(const CheckReport& r, Lines& out) {
    out.push_back("");
    out.push_back("reported, not problems:");
    Kind("holes in the levels' extents", Grouped(r.Holes()), out);
    const DuplicateContents& d = r.duplicates;
    const std::string title = "identical contents: extra copies / groups / bytes";
    if (d.confirmed)
        Kind(title, Grouped(d.tiles) + " / " + Grouped(d.groups) + " / " + Short(d.bytes), out);
    else
        Kind(title, Grouped(d.candidates) + " by hash, not confirmed", out);
    Kind("single-colour tiles", r.decoded ? Grouped(r.singleColour.count) : "not decoded", out);
    Samples(r.singleColour, out);
}

}  // namespace

std::vector<std::string> FormatCheckReport(const CheckReport& report) {
    Lines out;
    Header(report, out);
    LevelTable(report, out);
    ExtentTable(report, out);
    Problems(report, out);
    NotProblems(report, out);
    return out;
}

}  // namespace corvalis
