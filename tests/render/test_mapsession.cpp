// The map without a window: what dragging, keys, the wheel, the zoom steps and
// the overview do to the view, the grid lines they cost, the window's texts,
// what is left without a store, and the store files left as they were. Each
// input is answered as the window answers it: a redraw when the session asks.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "../gui/tilestores.h"
#include "filesnapshot.h"
#include "inforeport.h"
#include "logtail.h"
#include "mapsession.h"
#include "textutil.h"
#include "tilesource.h"

using corvalis::Format;
using corvalis::MapSession;
using corvalis::ThumbBox;
using MapCursor = MapSession::MapCursor;
using PointerEffect = MapSession::PointerEffect;
using Texts = std::array<std::string, 3>;
using XY = std::pair<int, int>;
using testsupport::CountMessages;
using testsupport::GridLines;
using testsupport::LogMessages;
namespace fs = std::filesystem;

namespace {

QRgb PixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFFu;
}
const QRgb kWorldZ0 = teststores::TileColour(0, 0, 0) & 0xFFFFFFu;

// A session on a 600 x 400 map area unless said otherwise.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ClearLog(); }
    void TearDown() override { testsupport::ClearLog(); }

    // Opens path and draws it, as the window does.
    void Open(const std::string& path, int width = 600, int height = 400) {
        std::string error;
        ASSERT_TRUE(session.Open(path, width, height, error)) << error;
        session.Render(true);
    }
    void OpenWorld(int lastZoom = 3, int width = 600, int height = 400) {
        teststores::WorldStore(world, 0, lastZoom);
        Open(world, width, height);
    }
    bool Redraw(bool changed) {
        if (changed) session.Render(false);
        return changed;
    }
    bool Zoom(bool in) {
        const bool changed = in ? session.ZoomIn() : session.ZoomOut();
        if (changed) session.Render(true);
        return changed;
    }
    void ZoomTo(int zoom) {
        while (View().Zoom() < zoom && Zoom(true)) continue;
    }
    bool Key(int key) { return Redraw(session.KeyPan(key)); }
    PointerEffect Move(int x, int y) {
        const PointerEffect effect = session.PointerMove(x, y);
        Redraw(effect == PointerEffect::Redraw);
        return effect;
    }
    int Wheel(int delta) {  // each whole notch a zoom step
        const int steps = session.WheelSteps(delta);
        for (int i = 0; i < std::abs(steps); ++i) Zoom(steps > 0);
        return steps;
    }
    // The 200 x 200 overview panel, painted (which places its picture).
    QImage PaintOverview() {
        QImage panel(200, 200, QImage::Format_RGB32);
        QPainter painter(&panel);
        session.PaintOverview(painter, 200, 200);
        return panel;
    }
    const corvalis::MapViewport& View() const { return session.Viewport(); }
    XY Scroll() const { return {View().ScrollX(), View().ScrollY()}; }
    const QImage& Picture() const { return session.Renderer().ViewImage(); }

    testsupport::TempDir dir;
    const std::string world = dir.file("world.mbtiles");
    MapSession session;
};

// Drags, arrow keys and a larger map area move the view of 1024 x 1024
// content; served from the composed block (whose shifted picture
// test_maprenderer checks), none reads a tile or logs a grid.
TEST_F(SessionTest, PansFollowDragsKeysAndResizesWithoutANewGrid) {
    OpenWorld();
    ZoomTo(2);
    EXPECT_EQ(View().ScrollX(), 212);
    const int loaded = session.Renderer().LoadedCount();
    const int grids = GridLines();
    EXPECT_TRUE(Key(Qt::Key_Left));
    EXPECT_EQ(View().ScrollX(), 252);
    EXPECT_EQ(session.Renderer().LoadedCount(), loaded);
    EXPECT_TRUE(Key(Qt::Key_Up));
    EXPECT_TRUE(Key(Qt::Key_Down));
    EXPECT_TRUE(Key(Qt::Key_Right));
    EXPECT_EQ(View().ScrollX(), 212);
    session.SyncViewSize(700, 400);
    session.Render(false);
    EXPECT_EQ(View().ScrollX(), 162);  // 212 - 100 / 2
    EXPECT_EQ(Picture().width(), 700);
    session.SyncViewSize(600, 400);

    EXPECT_TRUE(session.PointerDown(true, 100, 200));
    EXPECT_TRUE(session.Dragging());
    EXPECT_EQ(Move(500, 200), PointerEffect::Redraw);  // 400 right: clamped at 0
    EXPECT_EQ(View().ScrollX(), 0);
    EXPECT_EQ(Move(450, 230), PointerEffect::Redraw);  // back 50: moves at once
    EXPECT_EQ(Scroll(), XY(50, 282));
    EXPECT_EQ(Move(450, 230), PointerEffect::StatusBar);  // no movement
    EXPECT_EQ(View().ScrollX(), 50);
    EXPECT_EQ(session.PointerUp(), MapCursor::Hand);
    EXPECT_FALSE(session.Dragging());
    EXPECT_FALSE(session.PointerDown(false, 100, 100));  // another button
    EXPECT_FALSE(session.Dragging());

    while (View().ScrollX() < 424) ASSERT_TRUE(Key(Qt::Key_Left));
    EXPECT_FALSE(Key(Qt::Key_Left));  // at the east edge
    EXPECT_FALSE(Key(Qt::Key_A));
    EXPECT_EQ(GridLines(), grids);
}

// Content that fits the view is never dragged; the arrow keys still scroll it
// where it is larger than the view.
TEST_F(SessionTest, ContentThatFitsIsNotDraggedButScrollsByKeysWhereItOverflows) {
    const struct {
        const char* file;
        int zoom, cols, rows, width, height, keyStep;
    } cases[] = {
        {"one.mbtiles", 0, 1, 1, 256, 256, 0},
        {"tall.mbtiles", 2, 2, 4, 512, 1024, 40},  // fits across, not down
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        teststores::BlockStore(dir.file(c.file), c.zoom, c.cols, c.rows);
        Open(dir.file(c.file));
        EXPECT_EQ(XY(View().ContentWidth(), View().ContentHeight()), XY(c.width, c.height));
        EXPECT_TRUE(View().ContentFitsView());
        const auto [scrollX, scrollY] = Scroll();
        EXPECT_TRUE(c.keyStep == 0 || scrollY == 312);
        const QImage before = Picture().copy();
        const int grids = GridLines();

        EXPECT_TRUE(session.PointerDown(true, 300, 200));
        EXPECT_TRUE(session.Dragging());
        for (const XY& p : {XY(300, 50), XY(300, 390), XY(20, 200), XY(580, 10)}) {
            EXPECT_EQ(Move(p.first, p.second), PointerEffect::StatusBar);
            EXPECT_EQ(Scroll(), XY(scrollX, scrollY));
        }
        EXPECT_EQ(Picture(), before);
        EXPECT_EQ(session.PointerUp(), MapCursor::Default);
        EXPECT_FALSE(session.Dragging());

        EXPECT_FALSE(Key(Qt::Key_Left));
        EXPECT_FALSE(Key(Qt::Key_Right));
        EXPECT_EQ(Key(Qt::Key_Up), c.keyStep != 0);
        EXPECT_EQ(Scroll(), XY(scrollX, scrollY + c.keyStep));
        Key(Qt::Key_Down);
        Key(Qt::Key_Down);
        EXPECT_EQ(View().ScrollY(), scrollY - c.keyStep);
        EXPECT_EQ(Picture() != before, c.keyStep != 0);
        EXPECT_EQ(GridLines(), grids);
    }
}

TEST_F(SessionTest, ZoomStepsKeepTheViewCentreAndTheWheelStepsByWholeNotches) {
    OpenWorld();
    EXPECT_TRUE(Zoom(true));
    // 512 content in a 600 x 400 view: centred vertically, letterboxed across.
    EXPECT_EQ(XY(View().Zoom(), View().ScrollY()), XY(1, 56));
    EXPECT_TRUE(Zoom(false));
    EXPECT_FALSE(session.CanZoomOut());

    const struct {
        int delta, steps, zoom;
        bool drawn;
    } turns[] = {
        {120, 1, 1, true},  {-120, -1, 0, true}, {120, 1, 1, true},
        {40, 0, 1, false},  {40, 0, 1, false},   {40, 1, 2, true},  // finer wheels add up
        {240, 2, 3, true},                                          // two notches at once
        {120, 1, 3, false},                                         // at the top level
        {80, 0, 3, false},  {-120, -1, 2, true},  // a turn the other way starts afresh
    };
    for (const auto& t : turns) {
        SCOPED_TRACE(t.delta);
        const int grids = GridLines();
        EXPECT_EQ(Wheel(t.delta), t.steps);
        EXPECT_EQ(View().Zoom(), t.zoom);
        EXPECT_EQ(GridLines(), grids + (t.drawn ? 1 : 0));
        EXPECT_TRUE(!t.drawn || LogMessages().back().rfind(Format("grid z=%d ", t.zoom), 0) == 0);
        EXPECT_EQ(session.ZoomLabel(), Format("Zoom %d / 0-3", t.zoom));
        EXPECT_EQ(session.CanZoomIn(), t.zoom < 3);
    }
}

// The picture's place on the panel, and where presses and drags on it move
// the map; a press beside the picture acts on its nearest edge.
TEST_F(SessionTest, OverviewShowsTheStoreAndMovesTheMap) {
    teststores::BlockStore(dir.file("wide.mbtiles"), 2, 4, 1);  // 1024 x 256
    const struct {
        bool world;  // else the wide store, whose tiles do not decode (black)
        ThumbBox box;
        QRgb corner;
        XY press, pressed, drag, dragged;
    } cases[] = {
        {true, {0, 0, 200, 200}, kWorldZ0, {100, 100}, {724, 824}, {50, 50}, {212, 312}},
        {false, {0, 75, 200, 125}, 0u, {25, 10}, {0, 0}, {125, 100}, {340, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.world);
        if (c.world) {
            OpenWorld();
            ZoomTo(3);  // 2048 x 2048
        } else {
            Open(dir.file("wide.mbtiles"));
        }
        EXPECT_TRUE(session.OverviewPicture().Ready());
        const QImage panel = PaintOverview();
        EXPECT_EQ(session.OverviewBox(), c.box);
        EXPECT_EQ(PixelAt(panel, 5, c.box.top + 5), c.corner);
        Redraw(session.OverviewPress(c.press.first, c.press.second));
        EXPECT_EQ(Scroll(), c.pressed);
        Redraw(session.OverviewDrag(c.drag.first, c.drag.second));
        EXPECT_EQ(Scroll(), c.dragged);
        session.OverviewRelease();
        EXPECT_FALSE(session.OverviewDrag(150, 150));  // the release ended the drag
        EXPECT_EQ(Scroll(), c.dragged);
    }
}

// The press before a double click centres the map already; the double click
// itself only redraws, and only content larger than the view.
TEST_F(SessionTest, OverviewDoubleClickRedrawsOnlyContentLargerThanTheView) {
    OpenWorld();
    // Zoom 0 fits the 600 x 400 view, 1 (512 x 512) fits across, 2 and 3 do not fit.
    for (int zoom = 0; zoom <= 3; ++zoom) {
        SCOPED_TRACE(zoom);
        ZoomTo(zoom);
        EXPECT_EQ(View().ContentFitsView(), zoom < 2);
        PaintOverview();
        Redraw(session.OverviewPress(120, 90));
        session.OverviewRelease();
        const XY scroll = Scroll();
        const int grids = GridLines();
        EXPECT_EQ(Redraw(session.OverviewDoubleClick()), zoom >= 2);
        EXPECT_EQ(Scroll(), scroll);
        EXPECT_EQ(GridLines(), grids);
    }
}

// A fresh session, and one whose store failed to open after another was
// shown; closed, nothing of the old store is left.
TEST_F(SessionTest, WithoutAStoreInputChangesNothing) {
    const std::string bad = dir.file("notastore.mbtiles");
    std::ofstream(bad) << "this is not a database";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) {
            OpenWorld(3, 980, 593);
            ZoomTo(2);
            PaintOverview();
            EXPECT_EQ(session.OverviewBox(), (ThumbBox{0, 0, 200, 200}));
            std::string error;
            EXPECT_FALSE(session.Open(bad, 980, 593, error));
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(CountMessages("open failed: "), 1);
            EXPECT_EQ(CountMessages("open failed: " + bad + " / " + error), 1);
        }
        EXPECT_FALSE(session.StoreOpen());
        testsupport::ClearLog();
        const int zoom = View().Zoom();
        const XY scroll = Scroll();
        const QImage picture = Picture().copy();

        for (int key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
            EXPECT_FALSE(Key(key));
        EXPECT_FALSE(Zoom(true) || Zoom(false));
        EXPECT_EQ(XY(session.WheelSteps(120), session.WheelSteps(-120)), XY(0, 0));
        EXPECT_FALSE(session.PointerDown(true, 100, 100) || session.Dragging());
        EXPECT_EQ(Move(300, 250), PointerEffect::None);
        EXPECT_EQ(session.PointerUp(), MapCursor::Unchanged);
        EXPECT_FALSE(session.OverviewPress(20, 20) || session.OverviewDrag(30, 30));
        session.OverviewRelease();
        EXPECT_FALSE(session.OverviewDoubleClick() || session.CenterOnOverviewPoint(20, 20));
        EXPECT_EQ(session.Render(true), corvalis::RenderOutcome::EmptyGrid);
        EXPECT_EQ(View().Zoom(), zoom);
        EXPECT_EQ(Scroll(), scroll);
        EXPECT_EQ(Picture(), picture);
        EXPECT_EQ(session.StatusTexts(), (Texts{"No file opened", "", ""}));
        EXPECT_EQ(session.ZoomLabel(), "Zoom -");
        EXPECT_FALSE(session.CanZoomIn() || session.CanZoomOut());
        EXPECT_TRUE(LogMessages().empty());
    }
    session.Close();  // what the window does after a failed open
    EXPECT_EQ(Picture().size(), QSize(1, 1));
    EXPECT_EQ(PixelAt(Picture(), 0, 0), 0u);
    EXPECT_FALSE(session.OverviewPicture().Ready());
    EXPECT_EQ(session.OverviewBox(), ThumbBox{});
}

TEST_F(SessionTest, SwitchingStoresLeavesNothingOfTheFirst) {
    const std::string second = dir.file("second.mbtiles");
    teststores::WorldStore(second, 1, 2, 512, 100);
    OpenWorld();
    Zoom(true);
    testsupport::ClearLog();
    Open(second);
    EXPECT_EQ(session.ZoomLabel(), "Zoom 1 / 1-2");
    EXPECT_EQ(session.StatusTexts()[1], "MBTiles   512x512 tiles");
    EXPECT_EQ(View().Zoom(), 1);
    EXPECT_EQ(session.Renderer().ReusedCount(), 0);
    EXPECT_EQ(CountMessages("grid z=1 cols=2 rows=2 loaded=4 reused=0 missing=0"), 1);
    for (int y = 0; y < Picture().height(); y += 13)
        for (int x = 0; x < Picture().width(); x += 17)
            ASSERT_GE(qRed(Picture().pixel(x, y)), 160) << "a pixel of the first store is shown";
    EXPECT_FALSE(Zoom(false));  // no level below 1 in the second store
    EXPECT_TRUE(Zoom(true));
    EXPECT_FALSE(Zoom(true));
    EXPECT_EQ(View().Zoom(), 2);
}

TEST_F(SessionTest, LocalGridWithoutSidecarShowsNoCoordinates) {
    const std::string path = dir.file("area.oruxmapsimages.db");
    {
        testsupport::StoreWriter writer(path, testsupport::Layout::Xyz);
        for (int x = 0; x < 2; ++x)
            for (int y = 0; y < 2; ++y)
                writer.Tile(2, x, y, teststores::SolidPng(256, 256, qRgb(200, 100, 50)));
    }
    Open(path, 980, 593);
    const Texts texts{"Local tile grid - lon/lat unavailable (missing .omm)",
                      "SQLite tiles (XYZ)   256x256 tiles", "m/px -"};
    EXPECT_EQ(session.StatusTexts(), texts);
    EXPECT_EQ(session.PointerMove(500, 300), PointerEffect::StatusBar);
    EXPECT_EQ(session.StatusTexts(), texts);
}

// Opened, the lowest level is drawn letterboxed in the 800 x 600 view, and
// the status texts describe the store and the pointer.
TEST_F(SessionTest, OpeningLogsDrawsAndDescribesTheStore) {
    OpenWorld(3, 800, 600);
    EXPECT_EQ(session.ZoomLabel(), "Zoom 0 / 0-3");
    EXPECT_TRUE(session.CanZoomIn());
    EXPECT_FALSE(session.CanZoomOut());
    EXPECT_EQ(
        CountMessages("opened " + world + "  kind=MBTiles  zoom=0-3  tile=256x256  format=png"), 1);
    EXPECT_EQ(LogMessages().back(), "grid z=0 cols=1 rows=1 loaded=1 reused=0 missing=0");
    EXPECT_EQ(CountMessages("grid z="), 1);
    EXPECT_TRUE(session.OverviewPicture().Ready());
    ASSERT_EQ(Picture().size(), QSize(800, 600));
    for (const XY& p : {XY(1, 1), XY(798, 1), XY(1, 598), XY(798, 598), XY(271, 172), XY(528, 427)})
        EXPECT_EQ(PixelAt(Picture(), p.first, p.second), 0u) << p.first << "," << p.second;
    EXPECT_EQ(PixelAt(Picture(), 272, 172), kWorldZ0);
    EXPECT_EQ(PixelAt(Picture(), 527, 427), kWorldZ0);
    EXPECT_EQ(session.StatusTexts(), (Texts{"Move the mouse over the map to read coordinates",
                                            "MBTiles   256x256 tiles", "156543.03 m/px"}));
    // The pointer over the content's top-left corner.
    EXPECT_EQ(session.PointerMove(272, 172), PointerEffect::StatusBar);
    EXPECT_EQ(session.StatusTexts()[0], "Lon -180.00000   Lat 85.05113      z=0  x=0  y=0");
}

TEST_F(SessionTest, AbsentTilesShowThePlaceholder) {
    const std::string path = dir.file("holes.mbtiles");
    {
        testsupport::StoreWriter writer(path, testsupport::Layout::MBTiles);
        writer.Tile(1, 0, 1, teststores::SolidPng(256, 256, qRgb(200, 10, 10)));
        writer.Tile(1, 1, 1, testsupport::Blob(1, 1, 0));
        writer.Tile(1, 1, 0, teststores::SolidPng(256, 256, qRgb(10, 200, 10)));
    }
    Open(path, 512, 512);
    EXPECT_EQ(session.Renderer().LoadedCount(), 2);
    EXPECT_EQ(session.Renderer().MissingCount(), 2);
    EXPECT_EQ(Picture().copy(256, 0, 256, 256), session.Renderer().MissingTile());
    EXPECT_EQ(Picture().copy(0, 256, 256, 256), session.Renderer().MissingTile());
    EXPECT_EQ(LogMessages().back(), "grid z=1 cols=2 rows=2 loaded=2 reused=0 missing=2");
}

// A store whose tiles table has no index opens and shows as usual; the log
// says once, right after the "opened" line, why reading it is slow.
TEST_F(SessionTest, StoreWithoutIndexIsLoggedAsSlow) {
    const std::string slow = dir.file("slow.sqlitedb.db");
    {
        testsupport::StoreWriter writer(slow, testsupport::Layout::None);
        writer.Exec("CREATE TABLE tiles (x int, y int, z int, s int, image blob);");
        writer.Tile(0, 0, 0, teststores::SolidPng(256, 256, qRgb(30, 60, 90)));
    }
    Open(slow);
    EXPECT_EQ(session.Renderer().LoadedCount(), 1);
    const auto log = LogMessages();
    const auto opened = std::find_if(
        log.begin(), log.end(), [](const std::string& m) { return m.rfind("opened ", 0) == 0; });
    ASSERT_TRUE(opened != log.end() && opened + 1 != log.end());
    EXPECT_EQ(*(opened + 1), "slow store: no tile index");
    OpenWorld(1);
    EXPECT_EQ(CountMessages("opened "), 2);
    EXPECT_EQ(CountMessages("slow store"), 1);
}

// An XYZ-layout store (stored zoom 17 - z when reversed) over levels 0..2.
void XyzStore(const std::string& path, bool reversed) {
    testsupport::StoreWriter w(path, testsupport::Layout::Xyz);
    w.Exec("BEGIN;");
    for (int z = 0; z <= 2; ++z)
        for (int y = 0; y < (1 << z); ++y)
            for (int x = 0; x < (1 << z); ++x)
                w.Tile(reversed ? 17 - z : z, x, y,
                       teststores::SolidPng(256, 256, teststores::TileColour(z, x, y)));
    w.Exec("COMMIT;");
}

// The viewer never writes a store: after browsing every level of each layout,
// opening it again and the information report, every store file keeps its
// bytes and modification time, and nothing is added beside it (but SQLite's
// shared-memory and empty log files beside a WAL-mode store, which every
// reader of such a store makes in a folder it can write).
TEST_F(SessionTest, BrowsingLeavesStoresOfEveryLayoutAsTheyWere) {
    const fs::path folder = dir.path() / "stores";
    fs::create_directory(folder);
    for (const char* name :
         {"reference.mbtiles", "test_orux.db", "test_orux.omm", "sample.mbtiles"})
        testsupport::CopyFixture(name, folder);
    XyzStore((folder / "xyz.db").string(), false);
    XyzStore((folder / "reversed.sqlitedb").string(), true);
    fs::rename(folder / "sample.mbtiles", folder / "wal.mbtiles");
    ASSERT_EQ(sqlite3_exec(testsupport::OpenConnection((folder / "wal.mbtiles").string()).get(),
                           "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_FALSE(fs::exists(folder / "wal.mbtiles-wal"));
    testsupport::AgeFiles(folder);
    const auto before = testsupport::Snapshot(folder);

    for (const char* name :
         {"reference.mbtiles", "test_orux.db", "xyz.db", "reversed.sqlitedb", "wal.mbtiles"}) {
        SCOPED_TRACE(name);
        const std::string path = (folder / name).string();
        Open(path, 700, 500);
        PaintOverview();
        do {  // every level, panning about at each
            for (int key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Right})
                for (int i = 0; i < 5; ++i) Key(key);
            Redraw(session.CenterOnOverviewPoint(10, 10));
        } while (Zoom(true));
        EXPECT_GT(session.Renderer().LoadedCount(), 0);
        Open(path, 700, 500);  // the same file again
        Zoom(true);
        corvalis::RunInfoReport(path);
    }
    session.Close();

    auto after = testsupport::Snapshot(folder);
    after.erase("wal.mbtiles-shm");
    if (after.count("wal.mbtiles-wal") == 1 && after["wal.mbtiles-wal"].bytes.empty())
        after.erase("wal.mbtiles-wal");
    EXPECT_TRUE(after == before) << "a store changed, or a file was added beside them";
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
