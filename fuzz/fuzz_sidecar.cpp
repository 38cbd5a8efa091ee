// The ".omm" sidecar: the INI reader on arbitrary text, and the same bytes as
// the sidecar of an Orux store that TileDatabase::Open places on the world.
#include <climits>
#include <cstdint>
#include <string>

#include "fuzzcheck.h"
#include "inifile.h"
#include "storewriter.h"
#include "tilesource.h"

namespace {

std::string storePath;
std::string sidecarPath;

// Local tiles 0..1 at every level, so that any usable offset pair shows.
void WriteStore() {
    storePath = (fuzzsupport::ScratchDir() / "area.oruxmapsimages.db").string();
    sidecarPath = (fuzzsupport::ScratchDir() / "area.omm").string();
    testsupport::StoreWriter w(storePath, testsupport::Layout::Xyz, false);
    w.Exec("BEGIN;");
    for (int z = 0; z < 32; ++z) {
        w.Tile(z, 0, 0, testsupport::PngHeader(256, 256));
        if (z > 0) w.Tile(z, 1, 1, testsupport::Blob(z, 1, 1));
    }
    w.Exec("COMMIT;");
}

void CheckIni(const std::string& text) {
    corvalis::IniFile ini;
    ini.LoadFromText(text);
    for (int z = 0; z < 32; ++z) {
        const std::string key = "MinX_" + std::to_string(z);
        const std::int64_t a = ini.ReadInteger("XY", key, -1);
        const std::int64_t b = ini.ReadInteger("xy", "minx_" + std::to_string(z), -2);
        // Names ignore letter case; the fallback shows only for a missing or bad value.
        FUZZ_CHECK(a == b || (a == -1 && b == -2));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    WriteStore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckIni(text);

    fuzzsupport::WriteBytes(sidecarPath, data, size);
    corvalis::TileDatabase db;
    std::string error;
    const bool opened = db.Open(storePath, error);
    if (!opened) {
        // A sidecar that places no level, or one whose last tile falls past
        // the int range, refuses the store.
        FUZZ_CHECK(error == "the tiles table is empty." ||
                   error == "tile extent too large to display.");
        FUZZ_CHECK(!db.isOpen());
        return 0;
    }
    FUZZ_CHECK(db.localGrid() != db.geoUnknown());
    for (int z = 0; z < 32; ++z) {
        std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        if (!db.GetZoomExtent(z, x0, x1, y0, y1)) continue;
        const std::int64_t last = (std::int64_t{1} << z) - 1;
        const std::int64_t span = z == 0 ? 0 : 1;
        if (db.localGrid()) {
            // Placed inside the world: the offset is at most the last column.
            FUZZ_CHECK(x0 >= 0 && x0 <= last && y0 >= 0 && y0 <= last);
            // Tiles the offset puts off the world's grid belong to no extent.
            FUZZ_CHECK(x1 >= x0 && x1 <= last && y1 >= y0 && y1 <= last);
            FUZZ_CHECK(std::int64_t{x1} - x0 <= span && std::int64_t{y1} - y0 <= span);
        } else {
            FUZZ_CHECK(x0 == 0 && y0 == 0 && x1 == span && y1 == span);
        }
        const std::uint8_t* bytes = nullptr;
        std::int32_t count = 0;
        FUZZ_CHECK(db.ReadTile(z, x0, y0, bytes, count));
        FUZZ_CHECK(count >= 1 && bytes != nullptr);
    }
    FUZZ_CHECK(db.minZoom() >= 0 && db.minZoom() <= db.maxZoom() && db.maxZoom() < 32);
    return 0;
}
