#include "inforeport.h"

#include <cstdint>

#include "logging.h"
#include "tilesource.h"
#include "webmercator.h"

namespace corvalis {

void RunInfoReport(const std::string& path) {
    ReportLine("=== INFO begin ===");
    ReportLine("file: " + path);

    TileDatabase store;
    std::string errorText;
    if (!store.Open(path, errorText)) {
        ReportLine("  cannot open: " + errorText);
        ReportLine("=== INFO end ===");
        return;
    }

    ReportLine(Format("  kind=%s  localGrid=%d  geoUnknown=%d  format=%s", store.KindName().c_str(),
                      store.localGrid() ? 1 : 0, store.geoUnknown() ? 1 : 0,
                      store.format().c_str()));
    ReportLine(Format("  zoom=%d-%d  tile=%dx%d  scheme=%s", store.minZoom(), store.maxZoom(),
                      store.tileWidth(), store.tileHeight(), store.xyzRows() ? "XYZ" : "TMS"));

    for (std::int32_t z = store.minZoom(); z <= store.maxZoom(); ++z) {
        std::int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
        if (!store.GetZoomExtent(z, minX, maxX, minY, maxY)) continue;
        const double n = TilesAcross(z);
        const double west = TileXToLon(minX, n);
        const double east = TileXToLon(static_cast<double>(maxX) + 1.0, n);
        const double north = TileYToLat(minY, n, store.ellipsoidal());
        const double south = TileYToLat(static_cast<double>(maxY) + 1.0, n, store.ellipsoidal());
        ReportLine(Format("  z%-2d x=%d..%d y=%d..%d  lon %.5f..%.5f  lat %.5f..%.5f", z, minX,
                          maxX, minY, maxY, west, east, south, north));
    }

    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
    if (store.GetBounds(west, south, east, north))
        ReportLine(Format("  bounds %.5f,%.5f,%.5f,%.5f", west, south, east, north));
    else
        ReportLine("  bounds: none");
    ReportLine("=== INFO end ===");
}

}  // namespace corvalis
