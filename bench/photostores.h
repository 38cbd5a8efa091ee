// Photo stores for the rendering benchmarks: the Earth picture in Web Mercator
// (as the fixture generator draws it), every level of the whole world down to
// the one where the world is 8192 pixels wide (level 5 with 256-pixel tiles,
// level 4 with 512-pixel ones), as JPEG or PNG tiles. Each store is made on
// first use in a scratch folder that is deleted at exit.
#pragma once

#include <QImage>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "earthtiles.h"
#include "scratchfolder.h"
#include "storewriter.h"

namespace benchsupport {

enum class PhotoFormat { Jpeg, Png };

struct PhotoKind {
    PhotoFormat format;
    int tileSize;  // 256 or 512

    std::string Name() const {
        return (format == PhotoFormat::Jpeg ? "jpeg" : "png") + std::to_string(tileSize);
    }
    // The deepest level: the world is 8192 pixels wide there.
    int MaxZoom() const { return tileSize >= 512 ? 4 : 5; }
    bool operator<(const PhotoKind& o) const {
        return std::pair(format, tileSize) < std::pair(o.format, o.tileSize);
    }
};

inline const PhotoKind kPhotoKinds[] = {{PhotoFormat::Jpeg, 256},
                                        {PhotoFormat::Jpeg, 512},
                                        {PhotoFormat::Png, 256},
                                        {PhotoFormat::Png, 512}};

// Writes the store for kind; tiles are drawn and encoded on every core.
inline void WritePhotoStore(const std::string& path, const PhotoKind& kind) {
    const QImage world = testsupport::LoadWorld(testsupport::kDefaultEarthPicture);
    struct Tile {
        int z, x, y;
        testsupport::Bytes bytes;
    };
    std::vector<Tile> tiles;
    for (int z = 0; z <= kind.MaxZoom(); ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x) tiles.push_back({z, x, y, {}});
    const bool jpeg = kind.format == PhotoFormat::Jpeg;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < tiles.size();) {
            Tile& t = tiles[i];
            t.bytes = testsupport::EncodeImage(
                testsupport::RenderEarthTile(world, t.z, t.x, t.y, kind.tileSize),
                jpeg ? "JPG" : "PNG", jpeg ? 85 : -1);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();

    testsupport::StoreWriter store(path, testsupport::Layout::MBTiles);
    store.Meta("name", "Earth " + kind.Name());
    store.Meta("format", jpeg ? "jpg" : "png");
    store.Exec("BEGIN;");
    for (const Tile& t : tiles) store.Tile(t.z, t.x, (1 << t.z) - 1 - t.y, t.bytes);
    store.Exec("COMMIT;");
}

// Path of the store for kind, made on first use.
inline const std::string& PhotoStorePath(const PhotoKind& kind) {
    static std::map<PhotoKind, std::string> made;
    auto it = made.find(kind);
    if (it != made.end()) return it->second;
    const std::string path = Scratch().File("earth-" + kind.Name() + ".mbtiles");
    std::fprintf(stderr, "generating the %s photo store...\n", kind.Name().c_str());
    WritePhotoStore(path, kind);
    return made[kind] = path;
}

}  // namespace benchsupport
