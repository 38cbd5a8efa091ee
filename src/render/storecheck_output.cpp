#include "storecheck_output.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <cstddef>

#include "safefile.h"
#include "textutil.h"

namespace corvalis {

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(EscapeControl(text));
}

QJsonValue Number(std::int64_t value) {
    return QJsonValue(static_cast<qint64>(value));
}

QJsonObject LevelObject(std::size_t z, const LevelFacts& l) {
    QJsonObject formats;
    for (std::size_t f = 0; f < kCheckFormats; ++f)
        if (l.formats[f] > 0)
            formats.insert(CheckFormatName(static_cast<CheckFormat>(f)), Number(l.formats[f]));
    QJsonObject sizes;
    for (const SizeCount& s : l.sizes)
        sizes.insert(QStringLiteral("%1x%2").arg(s.width).arg(s.height), Number(s.tiles));
    if (l.otherSizes > 0) sizes.insert("other", Number(l.otherSizes));
    if (l.unsized > 0) sizes.insert("unknown", Number(l.unsized));
    const QJsonValue extent =
        l.hasExtent
            ? QJsonValue(QJsonArray{Number(l.minX), Number(l.maxX), Number(l.minY), Number(l.maxY)})
            : QJsonValue();
    return QJsonObject{{"z", static_cast<int>(z)},
                       {"tiles", Number(l.tiles)},
                       {"bytes", Number(l.bytes)},
                       {"min_bytes", Number(l.minBytes)},
                       {"mean_bytes", Number(l.tiles > 0 ? l.bytes / l.tiles : 0)},
                       {"max_bytes", Number(l.maxBytes)},
                       {"extent", extent},
                       {"holes", Number(l.holes)},
                       {"outside", Number(l.outside)},
                       {"formats", formats},
                       {"sizes", sizes}};
}

QJsonArray SampleArray(const Finding& f) {
    QJsonArray samples;
    for (const TileSample& s : f.samples) {
        QJsonArray one{Number(s.z), Number(s.x), Number(s.y)};
        if (!s.note.empty()) one.append(Text(s.note));
        samples.append(one);
    }
    return samples;
}

QJsonObject Problems(const CheckReport& r) {
    return QJsonObject{{"undecodable", Number(r.undecodable.count)},
                       {"format_mismatch", Number(r.formatMismatch.count)},
                       {"size_mismatch", Number(r.sizeMismatch.count)},
                       {"outside_grid", Number(r.outsideGrid.count)},
                       {"duplicate_rows", Number(r.duplicateRows.count)},
                       {"metadata", Number(static_cast<std::int64_t>(r.metadata.size()))},
                       {"no_index", r.noIndex ? 1 : 0},
                       {"integrity", r.IntegrityFailed() ? 1 : 0}};
}

QJsonObject Samples(const CheckReport& r) {
    QJsonArray metadata;
    for (const std::string& text : r.metadata) metadata.append(Text(text));
    return QJsonObject{{"undecodable", SampleArray(r.undecodable)},
                       {"format_mismatch", SampleArray(r.formatMismatch)},
                       {"size_mismatch", SampleArray(r.sizeMismatch)},
                       {"outside_grid", SampleArray(r.outsideGrid)},
                       {"duplicate_rows", SampleArray(r.duplicateRows)},
                       {"single_colour", SampleArray(r.singleColour)},
                       {"metadata", metadata}};
}

QJsonObject Details(const CheckReport& r) {
    QJsonObject reasons;
    for (const auto& [reason, count] : r.undecodableReasons)
        reasons.insert(Text(reason), Number(count));
    QJsonObject details{
        {"undecodable_reasons", reasons},
        {"single_colour", Number(r.singleColour.count)},
        {"holes", Number(r.Holes())},
        {"unplaced", Number(r.unplaced)},
        {"integrity_verdict", r.integrity ? QJsonValue(Text(*r.integrity)) : QJsonValue()}};
    if (!r.scanError.empty()) details.insert("scan_error", Text(r.scanError));
    return details;
}

}  // namespace

QByteArray CheckReportJson(const CheckReport& r) {
    QJsonArray levels;
    for (std::size_t z = 0; z < r.levels.size(); ++z)
        if (r.levels[z].tiles > 0) levels.append(LevelObject(z, r.levels[z]));
    const DuplicateContents& d = r.duplicates;
    QJsonObject root{
        {"store", Text(r.store)},
        {"kind", Text(r.kind)},
        {"format", r.statedFormat.empty() ? QJsonValue() : QJsonValue(Text(r.statedFormat))},
        {"tile_size", QJsonArray{r.tileWidth, r.tileHeight}},
        {"tiles", Number(r.tiles)},
        {"bytes", Number(r.bytes)},
        {"decoded", r.decoded},
        {"interrupted", r.interrupted},
        {"levels", levels},
        {"problems", Problems(r)},
        {"problem_count", Number(r.ProblemCount())},
        {"duplicate_contents", QJsonObject{{"tiles", Number(d.tiles)},
                                           {"bytes", Number(d.bytes)},
                                           {"groups", Number(d.groups)},
                                           {"confirmed", d.confirmed}}},
        {"samples", Samples(r)},
    };
    const QJsonObject details = Details(r);
    for (auto it = details.begin(); it != details.end(); ++it) root.insert(it.key(), it.value());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

constexpr int kMargin = 8;
constexpr int kLabelWidth = 72;
constexpr int kRowGap = 6;
constexpr int kTextHeight = 14;
constexpr int kLegendHeight = 22;
constexpr int kLegendWidth = 590;
// Stores whose levels are all small show each cell as a square of pixels: the
// largest level about this wide, a cell at most kLargestScale pixels a side.
constexpr int kSmallLevelSide = 256;
constexpr int kLargestScale = 16;

}  // namespace

int CoverageScale(const CheckReport& report) {
    int side = 1;
    for (const CoverageLevel& level : report.coverage)
        side = std::max({side, level.width, level.height});
    return std::clamp(kSmallLevelSide / side, 1, kLargestScale);
}

std::vector<QRect> CoverageLayout(const CheckReport& report) {
    const int scale = CoverageScale(report);
    std::vector<QRect> places;
    int y = kMargin + kLegendHeight;
    for (const CoverageLevel& level : report.coverage) {
        places.emplace_back(kMargin + kLabelWidth, y, level.width * scale, level.height * scale);
        y += std::max(level.height * scale, kTextHeight) + kRowGap;
    }
    return places;
}

QImage DrawCoverage(const CheckReport& report) {
    const std::vector<QRect> places = CoverageLayout(report);
    int width = kMargin * 2 + std::max(kLegendWidth, kLabelWidth);
    int height = kMargin * 2 + kLegendHeight;
    for (const QRect& r : places) {
        width = std::max(width, r.right() + 1 + kMargin);
        height = std::max(height, r.top() + std::max(r.height(), kTextHeight) + kMargin);
    }
    QImage picture(width, height, QImage::Format_RGB888);
    if (picture.isNull()) return picture;
    picture.fill(kCoverageBackground);
    const int scale = CoverageScale(report);
    for (std::size_t i = 0; i < places.size(); ++i) {
        const CoverageLevel& level = report.coverage[i];
        for (int py = 0; py < places[i].height(); ++py) {
            uchar* row =
                picture.scanLine(places[i].top() + py) + std::ptrdiff_t{3} * places[i].left();
            const std::size_t first =
                static_cast<std::size_t>(py / scale) * static_cast<std::size_t>(level.width);
            for (int px = 0; px < places[i].width(); ++px, row += 3) {
                const QColor& c =
                    kCoverageColours[level.cells[first + static_cast<std::size_t>(px / scale)] % 3];
                row[0] = static_cast<uchar>(c.red());
                row[1] = static_cast<uchar>(c.green());
                row[2] = static_cast<uchar>(c.blue());
            }
        }
    }
    // Text needs the fonts of a running application.
    if (QGuiApplication::instance() == nullptr) return picture;
    QPainter painter(&picture);
    if (!painter.isActive()) return picture;
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    const char* const kNames[] = {"hole", "present", "problem"};
    for (int k = 0; k < 3; ++k) {
        const int x = kMargin + k * 110;
        painter.fillRect(QRect(x, kMargin + 2, 12, 12), kCoverageColours[k]);
        painter.drawText(QRect(x + 16, kMargin, 90, kTextHeight + 2), Qt::AlignVCenter, kNames[k]);
    }
    painter.drawText(QRect(kMargin + 3 * 110, kMargin, 260, kTextHeight + 2), Qt::AlignVCenter,
                     QStringLiteral("/N: a pixel covers NxN tiles"));
    for (std::size_t i = 0; i < places.size(); ++i) {
        const CoverageLevel& level = report.coverage[i];
        QString label = QStringLiteral("z%1").arg(level.z);
        if (level.step > 1) label += QStringLiteral(" /%1").arg(static_cast<qint64>(level.step));
        painter.drawText(QRect(kMargin, places[i].top(), kLabelWidth - 4, kTextHeight),
                         Qt::AlignLeft | Qt::AlignTop, label);
    }
    return picture;
}

bool WriteCheckJson(const CheckReport& report, const std::string& path, std::string& error) {
    const QByteArray json = CheckReportJson(report);
    return WriteFileAtomically(
        path, std::string_view(json.constData(), static_cast<std::size_t>(json.size())), error);
}

bool WriteCoveragePng(const CheckReport& report, const std::string& path, std::string& error) {
    const QImage picture = DrawCoverage(report);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (picture.isNull() || !buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        error = "cannot draw the coverage picture";
        return false;
    }
    return WriteFileAtomically(
        path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
}

}  // namespace corvalis
