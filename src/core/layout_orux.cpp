// Orux local grids: SQLite tiles by x/y/z whose column 0 and row 0 are, at
// every level, the north-west tile of the area the store covers. The ".omm"
// sidecar beside the store gives each level's world offsets.
#include <sys/stat.h>

#include "inifile.h"
#include "oruxsidecar.h"
#include "sqlitetiles.h"
#include "storeopening.h"
#include "textutil.h"

namespace corvalis {

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class OruxLocalGrid final : public StoreLayout {
public:
    bool Recognise(StoreOpening& opening) const override {
        const TilesSchema& tiles = opening.Tiles();
        TileNumbering numbering;
        return tiles.image && !tiles.tileData && !opening.SqlitedbName() &&
               LoadOruxSidecar(opening.Path(), numbering);
    }

    std::unique_ptr<StoreReader> Open(StoreOpening& opening, StoreFacts& facts,
                                      std::string& errorText) const override {
        facts.kind = KindSqliteXyz;
        facts.kindName = "Orux (local grid)";
        facts.localGrid = true;
        TileNumbering numbering;
        LoadOruxSidecar(opening.Path(), numbering);
        return OpenSqliteTiles(opening, facts, {"tiles", "z", "x", "y", "image"}, numbering,
                               errorText);
    }
};

}  // namespace

std::string OruxSidecarPath(const std::string& storePath) {
    static constexpr std::string_view kOruxSuffix = ".oruxmapsimages.db";
    const std::string_view dir = DirPart(storePath);
    const std::string_view name = FileNamePart(storePath);
    if (AsciiIEndsWith(name, kOruxSuffix)) {
        const std::string_view stem = name.substr(0, name.size() - kOruxSuffix.size());
        std::string result(dir);
        result += stem;
        if (!AsciiIEndsWith(stem, ".omm")) result += ".omm";
        return result;
    }
    const std::string_view ext = ExtensionPart(storePath);
    return storePath.substr(0, storePath.size() - ext.size()) + ".omm";
}

bool LoadOruxSidecar(const std::string& storePath, TileNumbering& numbering) {
    const std::string sidecar = OruxSidecarPath(storePath);
    if (!FileExists(sidecar)) return false;
    IniFile ini;
    if (!ini.Load(sidecar)) return false;
    numbering.placed = true;
    int usable = 0;
    for (int z = 0; z < kZoomLevels; ++z) {
        const std::int64_t x = ini.ReadInteger("XY", "MinX_" + std::to_string(z), -1);
        const std::int64_t y = ini.ReadInteger("XY", "MinY_" + std::to_string(z), -1);
        const std::int64_t limit = std::int64_t{1} << z;
        if (x < 0 || x >= limit || y < 0 || y >= limit) continue;
        numbering.levels[static_cast<std::size_t>(z)] = {true, z, static_cast<std::int32_t>(x),
                                                         static_cast<std::int32_t>(y)};
        ++usable;
    }
    return usable > 0;
}

const StoreLayout& OruxLayout() {
    static const OruxLocalGrid layout;
    return layout;
}

}  // namespace corvalis
