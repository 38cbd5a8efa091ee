// The store check's findings as a JSON object and as a coverage picture.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>

#include <string>
#include <vector>

#include "storecheck.h"

namespace corvalis {

// The report as one JSON object (keys in storecheck_output.cpp); texts from
// the store are escaped as in the text report.
QByteArray CheckReportJson(const CheckReport& report);

// The picture's colours: a light background, and a distinct colour for
// present tiles, holes and problem tiles.
inline const QColor kCoverageBackground{0xF4, 0xF4, 0xEE};
inline const QColor kCoverageColours[] = {
    {0xF2, 0xB1, 0x34},  // kCoverageHole: amber
    {0x2E, 0x6F, 0xB5},  // kCoveragePresent: blue
    {0xD0, 0x21, 0x21},  // kCoverageProblem: red
};

// Pixels a side per cell: 1, or more when every level is small.
int CoverageScale(const CheckReport& report);
// Where each level of report.coverage lies in the picture: CoverageScale
// pixels a side per cell.
std::vector<QRect> CoverageLayout(const CheckReport& report);
// A legend, then one level a row with its z label (and the tiles a pixel
// covers when more than one), on a light background.
QImage DrawCoverage(const CheckReport& report);

// Write the JSON or the picture (PNG) to path through WriteFileAtomically;
// false with error when it cannot be written.
bool WriteCheckJson(const CheckReport& report, const std::string& path, std::string& error);
bool WriteCoveragePng(const CheckReport& report, const std::string& path, std::string& error);

}  // namespace corvalis
