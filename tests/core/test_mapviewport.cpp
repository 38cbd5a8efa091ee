#include "mapviewport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "storewriter.h"

using corvalis::BuildTileGrid;
using corvalis::MapViewport;
using corvalis::TileGrid;
using testsupport::Layout;
using testsupport::StoreWriter;

namespace {

using XY = std::pair<int, int>;
constexpr double kMaxLat = 85.0511287798066;
constexpr double kMetersAtZoom0 = 156543.03392804097;
const XY kRefused{-7, -7};

struct XyzTile {
    int z;
    std::int64_t x;
    std::int64_t y;
};

class ViewportTest : public ::testing::Test {
protected:
    // Full-world MBTiles levels 0..z1 with 256-pixel tiles, attached to a
    // view of w x h.
    void AttachWorld(int z1, int w, int h) {
        const std::string path = dir.file("world.mbtiles");
        {
            StoreWriter s(path, Layout::MBTiles);
            s.FullWorld(0, z1, testsupport::Blob);
        }
        Attach(path, w, h);
    }

    // An XYZ store holding just the given tiles, each with the given bytes.
    void AttachTiles(const std::vector<XyzTile>& tiles, int w, int h,
                     const testsupport::Bytes& bytes = testsupport::Bytes{'x'}) {
        const std::string path = dir.file("tiles.db");
        {
            StoreWriter s(path, Layout::Xyz);
            for (const XyzTile& t : tiles) s.Tile(t.z, t.x, t.y, bytes);
        }
        Attach(path, w, h);
    }

    // Sizes the view first and then attaches, as the window does.
    void Attach(const std::string& path, int w, int h) {
        std::string error;
        ASSERT_TRUE(db.Open(path, error)) << error;
        vp.SetViewSize(w, h);
        vp.AttachStore(&db);
    }

    XY Scroll() const { return {vp.ScrollX(), vp.ScrollY()}; }
    XY ToContent(double lon, double lat) const {
        XY r = kRefused;
        return vp.LonLatToContent(lon, lat, r.first, r.second) ? r : kRefused;
    }
    XY ToTile(int cx, int cy) const {
        XY r = kRefused;
        return vp.ContentToTile(cx, cy, r.first, r.second) ? r : kRefused;
    }
    XY ViewToContent(int vx, int vy) const {
        XY r;
        vp.ViewToContent(vx, vy, r.first, r.second);
        return r;
    }

    void ExpectScrollInRange() const {
        EXPECT_GE(vp.ScrollX(), 0);
        EXPECT_GE(vp.ScrollY(), 0);
        EXPECT_LE(vp.ScrollX(), std::max(0, vp.ContentWidth() - vp.ViewWidth()));
        EXPECT_LE(vp.ScrollY(), std::max(0, vp.ContentHeight() - vp.ViewHeight()));
    }

    testsupport::TempDir dir;
    corvalis::TileDatabase db;
    MapViewport vp;
};

TEST_F(ViewportTest, ProjectionBothWays) {
    AttachWorld(3, 800, 600);
    double lon = 1.0;
    double lat = 1.0;
    ASSERT_TRUE(vp.ContentToLonLat(128, 128, lon, lat));
    EXPECT_NEAR(lon, 0.0, 1e-12);
    EXPECT_NEAR(lat, 0.0, 1e-12);
    ASSERT_TRUE(vp.ContentToLonLat(0, 0, lon, lat));
    EXPECT_DOUBLE_EQ(lon, -180.0);
    EXPECT_NEAR(lat, kMaxLat, 1e-12);

    ASSERT_TRUE(vp.SetZoom(3, false));
    EXPECT_EQ(ToContent(116.4, 39.9), XY(1686, 776));
    ASSERT_TRUE(vp.ContentToLonLat(1686, 776, lon, lat));
    EXPECT_DOUBLE_EQ(lon, 116.3671875);
    EXPECT_NEAR(lat, 39.9097, 1e-4);
}

TEST_F(ViewportTest, ForwardProjectionClampsWrapsAndRefusesNaN) {
    AttachWorld(3, 800, 600);
    ASSERT_TRUE(vp.SetZoom(3, false));  // content 2048 x 2048
    struct Case {
        double lon, lat;
        XY content;
    };
    const Case cases[] = {
        {0.0, 0.0, {1024, 1024}},   {540.0, 90.0, {2047, 0}},    {-540.0, -90.0, {0, 2047}},
        {180.0, 0.0, {2047, 1024}}, {-180.0, 0.0, {0, 1024}},    {900.0, 0.0, {2047, 1024}},
        {190.0, 0.0, {56, 1024}},   {-190.0, 0.0, {1991, 1024}}, {0.0, -1e300, {1024, 2047}},
    };
    for (const Case& c : cases) EXPECT_EQ(ToContent(c.lon, c.lat), c.content) << c.lon;
    // A longitude far beyond the world wraps at once into the content.
    EXPECT_LT(ToContent(1e300, 0.0).first, 2048);
    EXPECT_GE(ToContent(1e300, 0.0).first, 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [lon, lat] : {std::pair{nan, 0.0}, {0.0, nan}, {inf, 0.0}, {-inf, 0.0}}) {
        XY r = kRefused;
        EXPECT_FALSE(vp.LonLatToContent(lon, lat, r.first, r.second));
        EXPECT_EQ(r, kRefused);
    }
}

TEST_F(ViewportTest, PartialExtentOffsetsContentAndTiles) {
    AttachTiles({{2, 1, 1}, {2, 2, 2}}, 100, 100);  // columns and rows 1..2
    ASSERT_EQ(vp.ContentWidth(), 512);
    double lon = 0.0;
    double lat = 0.0;
    ASSERT_TRUE(vp.ContentToLonLat(0, 0, lon, lat));
    EXPECT_DOUBLE_EQ(lon, -90.0);
    EXPECT_NEAR(lat, 66.51326044311186, 1e-9);
    EXPECT_EQ(ToContent(0.0, 0.0), XY(256, 256));
    EXPECT_EQ(ToContent(-170.0, 80.0), XY(0, 0));
    EXPECT_EQ(ToTile(300, 10), XY(2, 1));
    EXPECT_EQ(ToTile(-5, 9999), XY(1, 2));
}

TEST_F(ViewportTest, MetersPerPixelFollowsZoomTileSizeAndLatitude) {
    EXPECT_EQ(vp.MetersPerPixel(), 0.0);
    AttachWorld(3, 800, 600);
    EXPECT_DOUBLE_EQ(vp.MetersPerPixel(), kMetersAtZoom0);
    ASSERT_TRUE(vp.SetZoom(3, false));
    EXPECT_DOUBLE_EQ(vp.MetersPerPixel(), kMetersAtZoom0 / 8);
    ASSERT_TRUE(vp.CenterOnLonLat(0.0, 60.0));
    EXPECT_NEAR(vp.MetersPerPixel(), kMetersAtZoom0 / 16, 20.0);

    AttachTiles({{0, 0, 0}}, 800, 600, testsupport::PngHeader(512, 512));
    EXPECT_EQ(vp.TileWidth(), 512);
    EXPECT_DOUBLE_EQ(vp.MetersPerPixel(), kMetersAtZoom0 / 2);
}

TEST_F(ViewportTest, ZoomStepsKeepTheCentre) {
    AttachWorld(3, 300, 300);
    EXPECT_FALSE(vp.CanZoomOut());
    EXPECT_FALSE(vp.ZoomOut());
    ASSERT_TRUE(vp.ZoomIn());
    EXPECT_EQ(vp.Zoom(), 1);
    EXPECT_EQ(vp.ContentWidth(), 512);
    EXPECT_EQ(Scroll(), XY(106, 106));

    ASSERT_TRUE(vp.SetZoom(3, false));
    ASSERT_TRUE(vp.CenterOnLonLat(116.4, 39.9));
    EXPECT_EQ(Scroll(), XY(1686 - 150, 776 - 150));
    EXPECT_FALSE(vp.CanZoomIn());
    ASSERT_TRUE(vp.ZoomOut());
    EXPECT_EQ(vp.Zoom(), 2);
    EXPECT_EQ(vp.ScrollX(), 843 - 150);
    EXPECT_NEAR(vp.ScrollY(), 388 - 150, 1);
}

TEST_F(ViewportTest, SetZoomRefusalsChangeNothingAndStepsSkipEmptyLevels) {
    AttachTiles({{3, 0, 0}, {3, 7, 7}, {5, 0, 0}, {5, 31, 31}}, 800, 600);
    ASSERT_EQ(vp.Zoom(), 3);
    ASSERT_TRUE(vp.CenterOnContent(100, 2000));
    const XY before = Scroll();
    for (int z : {3, 4, 2, 6, -1, 32, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(vp.SetZoom(z, true)) << z;
        EXPECT_EQ(vp.Zoom(), 3);
        EXPECT_EQ(Scroll(), before);
    }
    ASSERT_TRUE(vp.ZoomIn());
    EXPECT_EQ(vp.Zoom(), 5);
    EXPECT_FALSE(vp.CanZoomIn());
    ASSERT_TRUE(vp.ZoomOut());
    EXPECT_EQ(vp.Zoom(), 3);
    EXPECT_FALSE(vp.CanZoomOut());
}

TEST_F(ViewportTest, SmallContentIsLetterboxedAndDoesNotScroll) {
    AttachWorld(0, 800, 600);
    EXPECT_EQ(vp.LetterboxOffsetX(), 272);
    EXPECT_EQ(vp.LetterboxOffsetY(), 172);
    EXPECT_TRUE(vp.ContentFitsView());
    vp.PanBy(-100, 50);
    for (int d = 1; d <= 4; ++d) EXPECT_FALSE(vp.ScrollBy(d, 40));
    EXPECT_FALSE(vp.CenterOnContent(255, 255));
    EXPECT_EQ(Scroll(), XY(0, 0));
    EXPECT_EQ(ViewToContent(400, 300), XY(128, 128));
    EXPECT_EQ(ViewToContent(0, 799), XY(0, 255));
}

TEST_F(ViewportTest, TallContentScrollsOnlyVertically) {
    AttachTiles({{3, 0, 0}, {3, 0, 4}}, 800, 600, testsupport::PngHeader(512, 512));
    ASSERT_EQ(vp.ContentWidth(), 512);
    ASSERT_EQ(vp.ContentHeight(), 2560);
    EXPECT_TRUE(vp.ContentFitsView());
    EXPECT_EQ(vp.LetterboxOffsetX(), 144);
    EXPECT_EQ(vp.LetterboxOffsetY(), 0);
    EXPECT_EQ(Scroll(), XY(0, 980));
    EXPECT_FALSE(vp.ScrollBy(1, 40));
    EXPECT_FALSE(vp.ScrollBy(5, 40));
    EXPECT_TRUE(vp.ScrollBy(4, 40));
    EXPECT_EQ(vp.ScrollY(), 940);
    vp.PanBy(0, 100);  // dragging down shows more of the north
    EXPECT_EQ(vp.ScrollY(), 840);
    EXPECT_TRUE(vp.ScrollBy(3, 100000));
    EXPECT_EQ(Scroll(), XY(0, 1960));
    EXPECT_FALSE(vp.ScrollBy(3, 1));
}

TEST_F(ViewportTest, ResizeKeepsTheCentrePixel) {
    AttachWorld(3, 800, 600);
    ASSERT_TRUE(vp.SetZoom(3, false));
    ASSERT_EQ(Scroll(), XY(624, 724));
    vp.SetViewSize(600, 400);
    EXPECT_EQ(Scroll(), XY(724, 824));
    vp.SetViewSize(599, 399);  // -1/2 truncates to 0: no move
    EXPECT_EQ(Scroll(), XY(724, 824));
    vp.SetViewSize(0, -5);
    EXPECT_EQ(XY(vp.ViewWidth(), vp.ViewHeight()), XY(1, 1));
    ExpectScrollInRange();
}

TEST_F(ViewportTest, WithoutAnOpenStoreEverythingRefuses) {
    EXPECT_EQ(XY(vp.TileWidth(), vp.TileHeight()), XY(256, 256));
    vp.SetViewSize(800, 600);
    vp.AttachStore(&db);  // never opened
    vp.PanBy(10, 10);
    EXPECT_FALSE(vp.SetZoom(0, false));
    EXPECT_FALSE(vp.CanZoomIn());
    EXPECT_FALSE(vp.ZoomIn());
    EXPECT_FALSE(vp.ScrollBy(1, 10));
    EXPECT_FALSE(vp.CenterOnContent(5, 5));
    EXPECT_FALSE(vp.CenterOnLonLat(0.0, 0.0));
    EXPECT_EQ(ToTile(0, 0), kRefused);
    double lon = 3.0;
    double lat = 4.0;
    EXPECT_FALSE(vp.ContentToLonLat(0, 0, lon, lat));
    EXPECT_EQ(lon, 3.0);
    EXPECT_EQ(vp.MetersPerPixel(), 0.0);

    // Detaching after a store drops its content too.
    AttachWorld(0, 800, 600);
    ASSERT_EQ(vp.ContentWidth(), 256);
    vp.AttachStore(nullptr);
    EXPECT_EQ(vp.ContentWidth(), 0);
    EXPECT_FALSE(vp.ContentToLonLat(0, 0, lon, lat));
    EXPECT_TRUE(BuildTileGrid(vp, 3).IsEmpty());
}

TEST_F(ViewportTest, GridAroundTheView) {
    AttachWorld(3, 800, 600);
    TileGrid g = BuildTileGrid(vp, 3);
    EXPECT_FALSE(g.IsEmpty());
    EXPECT_EQ(XY(g.maxX, g.maxY), XY(0, 0));
    EXPECT_EQ(XY(g.pixelWidth, g.zoom), XY(256, 0));

    ASSERT_TRUE(vp.SetZoom(3, false));  // scroll (624, 724)
    g = BuildTileGrid(vp, 1);
    EXPECT_EQ(g.zoom, 3);
    EXPECT_EQ(XY(g.minX, g.maxX), XY(2, 5));
    EXPECT_EQ(XY(g.minY, g.maxY), XY(2, 5));
    EXPECT_EQ(XY(g.originX, g.originY), XY(512, 512));
    EXPECT_EQ(XY(g.pixelWidth, g.pixelHeight), XY(1024, 1024));
    for (int f : {0, -4, INT_MIN}) EXPECT_EQ(BuildTileGrid(vp, f), g) << f;

    const TileGrid whole = BuildTileGrid(vp, 3);
    EXPECT_EQ(XY(whole.minX, whole.maxX), XY(0, 7));
    EXPECT_EQ(XY(whole.minY, whole.maxY), XY(0, 7));
    EXPECT_EQ(XY(whole.originX, whole.pixelHeight), XY(0, 2048));
    EXPECT_EQ(BuildTileGrid(vp, INT_MAX), whole);

    // A span that ends on a tile boundary takes no extra column or row.
    vp.SetViewSize(512, 512);
    ASSERT_TRUE(vp.CenterOnContent(768, 768));
    g = BuildTileGrid(vp, 1);
    EXPECT_EQ(XY(g.minX, g.maxX), XY(2, 3));
    EXPECT_EQ(g.maxY, 3);
}

TEST_F(ViewportTest, GridCellsAndCoverage) {
    AttachTiles({{3, 0, 0}, {3, 0, 4}}, 800, 600, testsupport::PngHeader(512, 512));
    const TileGrid g = BuildTileGrid(vp, 1);
    ASSERT_FALSE(g.IsEmpty());
    EXPECT_EQ(g.tileWidth, 512);
    EXPECT_EQ(g.originY, 512);  // scroll 980 starts in row 1
    XY px;
    ASSERT_TRUE(g.CellOffset(g.maxX, g.maxY, px.first, px.second));
    EXPECT_EQ(px, XY(g.pixelWidth - g.tileWidth, g.pixelHeight - g.tileHeight));
    EXPECT_FALSE(g.CellOffset(g.maxX + 1, g.minY, px.first, px.second));
    EXPECT_FALSE(g.CellOffset(g.minX, g.minY - 1, px.first, px.second));

    const TileGrid big = BuildTileGrid(vp, 3);
    EXPECT_TRUE(g.Covers(g));
    EXPECT_TRUE(big.Covers(g));
    EXPECT_FALSE(g.Covers(big));
    TileGrid other = g;
    other.zoom = 4;
    EXPECT_FALSE(g.Covers(other));

    const TileGrid empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(XY(empty.zoom, empty.tileWidth), XY(-1, 256));
    EXPECT_FALSE(empty.Covers(empty));
    EXPECT_FALSE(empty.Covers(g));
    EXPECT_FALSE(g.Covers(empty));
    EXPECT_FALSE(empty.CellOffset(0, 0, px.first, px.second));
    EXPECT_EQ(BuildTileGrid(MapViewport{}, 3), empty);
    MapViewport noView;  // open store, 0 x 0 view
    noView.AttachStore(&db);
    EXPECT_EQ(BuildTileGrid(noView, 3), empty);
}

TEST_F(ViewportTest, LastTileOfZoom31) {
    AttachTiles({{31, INT_MAX, INT_MAX}}, 800, 600);
    ASSERT_EQ(vp.Zoom(), 31);
    ASSERT_EQ(vp.ContentWidth(), 256);
    EXPECT_EQ(ToTile(255, 255), XY(INT_MAX, INT_MAX));
    double lon = 0.0;
    double lat = 0.0;
    ASSERT_TRUE(vp.ContentToLonLat(256, 256, lon, lat));
    EXPECT_DOUBLE_EQ(lon, 180.0);
    EXPECT_NEAR(lat, -kMaxLat, 1e-9);
    EXPECT_EQ(ToContent(180.0, -90.0), XY(255, 255));
    EXPECT_EQ(ToContent(0.0, 0.0), XY(0, 0));
    EXPECT_GT(vp.MetersPerPixel(), 0.0);
    const TileGrid g = BuildTileGrid(vp, INT_MAX);
    EXPECT_EQ(XY(g.minX, g.maxY), XY(INT_MAX, INT_MAX));
    EXPECT_EQ(g.pixelWidth, 256);
    XY px{-1, -1};
    ASSERT_TRUE(g.CellOffset(INT_MAX, INT_MAX, px.first, px.second));
    EXPECT_EQ(px, XY(0, 0));
}

TEST_F(ViewportTest, HugeExtentStaysWithinInts) {
    // 262176 columns and rows of 8191 pixels: 2147483616 pixels, the widest
    // content an int holds (one column more and the store does not open).
    constexpr int kLast = 262175;
    constexpr int kContent = (kLast + 1) * 8191;
    AttachTiles({{0, 0, 0}, {31, 0, 0}, {31, kLast, kLast}}, INT_MAX, INT_MAX,
                testsupport::PngHeader(8191, 8191));
    ASSERT_EQ(vp.TileWidth(), 8191);
    ASSERT_TRUE(vp.ZoomIn());
    EXPECT_EQ(vp.ContentWidth(), kContent);
    ExpectScrollInRange();
    vp.SetViewSize(1, 1);
    vp.PanBy(INT_MIN, INT_MIN);
    ExpectScrollInRange();
    EXPECT_TRUE(vp.ScrollBy(2, INT_MAX));
    EXPECT_FALSE(vp.ScrollBy(2, INT_MAX));
    EXPECT_TRUE(vp.ScrollBy(1, INT_MAX));
    vp.PanBy(INT_MAX, INT_MAX);
    EXPECT_TRUE(vp.CenterOnContent(INT_MAX, INT_MIN));
    ExpectScrollInRange();
    vp.SetViewSize(INT_MAX, 3);
    EXPECT_EQ(ViewToContent(INT_MAX, INT_MIN), XY(kContent - 1, 0));
    EXPECT_EQ(ToContent(180.0, -90.0), XY(kContent - 1, kContent - 1));
    EXPECT_EQ(ToTile(INT_MAX, INT_MAX).first, kLast);
    EXPECT_GT(vp.MetersPerPixel(), 0.0);
    for (int f : {1, 3, INT_MAX}) {
        const TileGrid g = BuildTileGrid(vp, f);
        ASSERT_FALSE(g.IsEmpty()) << f;
        EXPECT_GE(g.pixelWidth, g.tileWidth);
        EXPECT_LE(std::int64_t{g.originX} + g.pixelWidth, kContent);
        XY px;
        EXPECT_TRUE(g.CellOffset(g.maxX, g.maxY, px.first, px.second));
    }
    ASSERT_TRUE(vp.ZoomOut());
    EXPECT_EQ(vp.ContentWidth(), 8191);
    ExpectScrollInRange();
}

}  // namespace
