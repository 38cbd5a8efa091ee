#include "usage.h"

#include <cstring>

#ifndef CORVALIS_VERSION
#error "CORVALIS_VERSION is defined by the build (src/CMakeLists.txt)"
#endif

namespace corvalis {

std::string VersionText() {
    return std::string("corvalis ") + CORVALIS_VERSION + "\n";
}

std::string UsageText() {
    return "Usage: corvalis [STORE]\n"
           "       corvalis --info STORE\n"
           "       corvalis --selftest STORE\n"
           "       corvalis --check STORE [--json FILE] [--map FILE.png] [--decode|--no-decode]\n"
           "       corvalis --help | -h\n"
           "       corvalis --version\n"
           "\n"
           "Views offline map tile stores. Without an argument the window opens empty;\n"
           "with STORE it opens on that store.\n"
           "\n"
           "Modes:\n"
           "  STORE                open the window on STORE\n"
           "  --info STORE         print a report on STORE (layout, zoom levels, extents,\n"
           "                       bounds) and exit\n"
           "  --selftest STORE     run the built-in checks on STORE (the reference store)\n"
           "                       and exit\n"
           "  --check STORE        check STORE's tables, index and tiles and exit:\n"
           "                       0 no problems, 1 problems found, 2 cannot open\n"
           "    --json FILE        also write the findings to FILE as JSON\n"
           "    --map FILE.png     also draw a map of the levels and problems to FILE.png\n"
           "    --decode           decode every raster tile (the default under 1 million)\n"
           "    --no-decode        read the tiles without decoding them\n"
           "  -h, --help           print this help and exit\n"
           "  --version            print the version and exit\n"
           "\n"
           "STORE is an MBTiles file (.mbtiles), a SQLite tile store (x/y/z tiles,\n"
           ".sqlitedb with reversed zoom), an Orux map (.db with its .omm beside it),\n"
           "a GeoPackage (.gpkg; \"world.gpkg#table\" names one tile table) or a PMTiles\n"
           "archive (.pmtiles). Stores are opened read-only.\n"
           "\n"
           "Keys: arrows pan, Ctrl+O open, Ctrl+W close the store, Ctrl+Q quit,\n"
           "F11 full screen. Drag to pan, the wheel zooms.\n"
           "\n"
           "Reports go to standard output and to viewer.log beside the program, or to\n"
           "$XDG_STATE_HOME/Corvalis/viewer.log (~/.local/state/Corvalis/viewer.log)\n"
           "when that folder cannot be written.\n";
}

std::optional<std::string> InformationalOutput(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr) return std::nullopt;
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) return UsageText();
    if (std::strcmp(first, "--version") == 0) return VersionText();
    return std::nullopt;
}

}  // namespace corvalis
