// Composing in the background: the cells the view shows are read and shown
// first, a zoom step shows the last picture scaled at once and cancels the
// composition under way (an endless read included), and what a drive without
// waiting ends with is the frame of composing in the foreground.
#include <gtest/gtest.h>

#include <QImage>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "../gui/tilestores.h"
#include "logging.h"
#include "mapsession.h"
#include "watchdog.h"

using namespace corvalis;
using teststores::TileColour;

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

std::vector<std::string> GridLines() {
    std::vector<std::string> out;
    std::ifstream in(LogFilePath());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (const auto pos = line.find("grid z="); pos != std::string::npos)
            out.push_back(line.substr(pos));
    }
    return out;
}

// Records every tile read (on the composer's thread) and holds those the rule
// picks until it is lifted.
class ReadGate {
public:
    using Rule = std::function<bool(int z, int x, int y)>;
    void Hold(Rule rule) {
        const std::lock_guard lock(mutex_);
        rule_ = std::move(rule);
    }
    void Lift() {
        const std::lock_guard lock(mutex_);
        rule_ = nullptr;
        changed_.notify_all();
    }
    // Waits until a read is held.
    bool WaitForHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [this] { return held_ > 0; });
    }
    std::vector<std::array<int, 3>> Reads() {
        const std::lock_guard lock(mutex_);
        return reads_;
    }
    void operator()(int z, int x, int y) {
        std::unique_lock lock(mutex_);
        reads_.push_back({z, x, y});
        if (!rule_ || !rule_(z, x, y)) return;
        ++held_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !rule_; });
        --held_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Rule rule_;
    int held_ = 0;
    std::vector<std::array<int, 3>> reads_;
};

// The test's thread acts as the window's: the session composes in the
// background and its progress is taken in here.
class AsyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::remove(LogFilePath().c_str());
        session.SetReadHook([this](int z, int x, int y) { gate(z, x, y); });
        session.SetAsync(true, [this] {
            const std::lock_guard lock(mutex);
            woken = true;
            wake.notify_all();
        });
    }
    void TearDown() override {
        gate.Lift();
        session.CancelComposition();
        std::remove(LogFilePath().c_str());
    }

    void Open(const std::string& path) {
        std::string error;
        ASSERT_TRUE(session.Open(path, 600, 400, error)) << error;
    }
    void ComposeAt(int zoom) {
        ASSERT_TRUE(session.Viewport().SetZoom(zoom, true));
        session.Render(true);
        session.WaitForComposition();
    }

    // Takes in progress until done holds (false when it never does).
    bool Until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        for (;;) {
            session.Update();
            if (done()) return true;
            std::unique_lock lock(mutex);
            if (!wake.wait_until(lock, deadline, [this] { return woken; })) return false;
            woken = false;
        }
    }

    // The world pixel under view pixel (x, y) at the current zoom (full-world stores).
    std::array<std::int64_t, 2> WorldAt(int x, int y) const {
        const MapViewport& v = session.Viewport();
        return {std::int64_t{x} + v.ScrollX() - v.LetterboxOffsetX(),
                std::int64_t{y} + v.ScrollY() - v.LetterboxOffsetY()};
    }

    // The view shows, at points away from tile edges, the colour of level
    // source's tile under them, and black outside area (world pixels of that
    // level) and outside the content.
    int ViewMismatches(int source, const QRect& area) const {
        const QImage& view = session.Renderer().ViewImage();
        const MapViewport& v = session.Viewport();
        const int shift = v.Zoom() - source;  // levels up from source to the view
        int mismatches = 0;
        for (int y = 3; y < view.height(); y += 11)
            for (int x = 3; x < view.width(); x += 13) {
                auto [wx, wy] = WorldAt(x, y);
                const bool content =
                    wx >= 0 && wy >= 0 && wx < v.ContentWidth() && wy < v.ContentHeight();
                wx = shift >= 0 ? wx >> shift : wx << -shift;
                wy = shift >= 0 ? wy >> shift : wy << -shift;
                const auto near = [](std::int64_t p, int low, int high) {
                    return (p - low >= -2 && p - low <= 2) || (p - high >= -2 && p - high <= 2) ||
                           p % 256 < 2 || p % 256 > 253;
                };
                if (near(wx, area.left(), area.right() + 1) ||
                    near(wy, area.top(), area.bottom() + 1))
                    continue;
                const bool inside = content && area.contains(int(wx), int(wy));
                const QRgb expected =
                    inside ? TileColour(source, wx / 256, wy / 256) & 0xFFFFFF : 0u;
                mismatches += (view.pixel(x, y) & 0xFFFFFFu) != expected ? 1 : 0;
            }
        return mismatches;
    }
    QRect WholeLevel(int z) const { return {0, 0, 256 << z, 256 << z}; }
    QRect ViewArea() const {
        const auto [wx, wy] = WorldAt(0, 0);
        const MapViewport& v = session.Viewport();
        return {int(wx), int(wy), v.ViewWidth(), v.ViewHeight()};
    }

    testsupport::TempDir dir;
    ReadGate gate;
    MapSession session;
    std::mutex mutex;
    std::condition_variable wake;
    bool woken = false;
};

TEST_F(AsyncTest, TheViewsCellsAreReadAndShownBeforeAnyOther) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 4);
    Open(dir.file("w.mbtiles"));
    ComposeAt(3);
    ASSERT_TRUE(session.ZoomIn());
    // Every tile outside the view at level 4 is held at the gate.
    const QRect shown = ViewArea();
    const auto visible = [shown](int x, int y) {
        return QRect(x * 256, y * 256, 256, 256).intersects(shown);
    };
    gate.Hold([&visible](int z, int x, int y) { return z == 4 && !visible(x, y); });
    const std::size_t before = gate.Reads().size();
    EXPECT_EQ(session.Render(true), RenderOutcome::Composing);

    ASSERT_TRUE(Until([this] { return ViewMismatches(4, WholeLevel(4)) == 0; }));
    ASSERT_TRUE(gate.WaitForHeld());
    const auto reads = gate.Reads();
    int seen = 0;
    for (std::size_t i = before; i + 1 < reads.size(); ++i, ++seen)
        EXPECT_TRUE(visible(reads[i][1], reads[i][2])) << reads[i][1] << "," << reads[i][2];
    int shownTiles = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) shownTiles += visible(x, y) ? 1 : 0;
    EXPECT_EQ(seen, shownTiles);
    EXPECT_EQ(GridLines().size(), 1u);  // not before the block is complete

    gate.Lift();
    session.WaitForComposition();
    ASSERT_EQ(GridLines().size(), 2u);
    EXPECT_EQ(GridLines().back(), "grid z=4 cols=8 rows=6 loaded=48 reused=0 missing=0");
    EXPECT_EQ(ViewMismatches(4, WholeLevel(4)), 0);
}

// What the view shows before any tile of the composition is read.
TEST_F(AsyncTest, TheStandInIsTheOverviewOrTheLastPictureScaled) {
    teststores::WorldStore(dir.file("w.mbtiles"), 1, 4);
    const struct {
        const char* what;
        int from;  // level composed before; 0: none, just opened
        int to;
    } cases[] = {{"after an open", 0, 1}, {"zoom in", 2, 3}, {"zoom out", 3, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Open(dir.file("w.mbtiles"));
        QRect area = WholeLevel(1);
        if (c.from > 0) {
            ComposeAt(c.from);
            area = ViewArea();
            gate.Hold([](int, int, int) { return true; });
            ASSERT_TRUE(c.to > c.from ? session.ZoomIn() : session.ZoomOut());
        } else {
            gate.Hold([](int, int, int) { return true; });
        }
        session.Render(true);
        EXPECT_EQ(ViewMismatches(c.from > 0 ? c.from : 1, area), 0);
        gate.Lift();
        session.WaitForComposition();
        EXPECT_EQ(ViewMismatches(c.to, WholeLevel(c.to)), 0);
    }
}

TEST_F(AsyncTest, AZoomStepCancelsTheCompositionUnderWay) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 4);
    Open(dir.file("w.mbtiles"));
    ComposeAt(2);
    int level3 = 0;
    gate.Hold([&level3](int z, int, int) { return z == 3 && ++level3 == 4; });
    ASSERT_TRUE(session.ZoomIn());
    session.Render(true);
    ASSERT_TRUE(gate.WaitForHeld());
    ASSERT_TRUE(session.ZoomIn());
    EXPECT_EQ(session.Render(true), RenderOutcome::Composing);
    gate.Lift();
    session.WaitForComposition();

    int readsAt3 = 0;
    for (const auto& read : gate.Reads()) readsAt3 += read[0] == 3 ? 1 : 0;
    EXPECT_EQ(readsAt3, 4);  // none after the one held
    const std::vector<std::string> lines = GridLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("grid z=2 ", 0), 0u);
    EXPECT_EQ(lines[1], "grid z=4 cols=8 rows=6 loaded=48 reused=0 missing=0");
    EXPECT_EQ(ViewMismatches(4, WholeLevel(4)), 0);
}

// One tile of level 3 is a query that never ends: only cutting the read short
// lets the zoom step go on.
TEST_F(AsyncTest, CancellingCutsAnEndlessReadShort) {
    const testsupport::Watchdog watchdog("an endless read", std::chrono::seconds(60));
    const std::string path = dir.file("endless.mbtiles");
    {
        testsupport::StoreWriter writer(path, testsupport::Layout::MBTiles);
        writer.Meta("format", "png");
        writer.FullWorld(0, 4, [](int z, std::int64_t x, std::int64_t y) {
            return teststores::SolidPng(256, 256, TileColour(z, x, y));
        });
        writer.Exec(
            "ALTER TABLE tiles RENAME TO t;"
            "CREATE VIEW tiles AS SELECT zoom_level, tile_column, tile_row, CASE WHEN "
            "zoom_level = 3 AND tile_column = 4 AND tile_row = 3 THEN (WITH RECURSIVE c(n) AS "
            "(VALUES(1) UNION ALL SELECT n + 1 FROM c) SELECT zeroblob(9) FROM c WHERE n < 0) "
            "ELSE tile_data END AS tile_data FROM t;");
    }
    Open(path);
    ComposeAt(2);
    gate.Hold([](int z, int x, int y) { return z == 3 && x == 4 && y == 4; });
    ASSERT_TRUE(session.ZoomIn());
    session.Render(true);
    ASSERT_TRUE(gate.WaitForHeld());
    gate.Lift();  // into the endless query
    ASSERT_TRUE(session.ZoomIn());
    session.Render(true);
    session.WaitForComposition();
    ASSERT_EQ(GridLines().size(), 2u);
    EXPECT_EQ(GridLines().back(), "grid z=4 cols=8 rows=6 loaded=48 reused=0 missing=0");
}

// Requests one after the other without waiting: zoom steps cancel, pans past
// the block wait for it; the end is the foreground's frame and view.
TEST_F(AsyncTest, ADriveWithoutWaitingEndsWithTheForegroundsFrame) {
    teststores::WorldStore(dir.file("w.mbtiles"), 0, 4);
    Open(dir.file("w.mbtiles"));
    ComposeAt(3);
    for (int round = 0; round < 3; ++round) {
        session.Viewport().PanBy(-700, -300);
        session.Render(false);
        ASSERT_TRUE(session.ZoomIn());
        session.Render(true);
        session.Viewport().PanBy(900, 500);
        session.Render(false);
        session.Update();
        ASSERT_TRUE(session.ZoomOut());
        session.Render(true);
        session.Viewport().PanBy(-2000, 0);
        session.Render(false);
    }
    session.Render(true);  // the last block is the current view's, as in the foreground
    session.WaitForComposition();
    ASSERT_FALSE(session.Composing());

    MapSession foreground;
    std::string error;
    ASSERT_TRUE(foreground.Open(dir.file("w.mbtiles"), 600, 400, error));
    ASSERT_TRUE(foreground.Viewport().SetZoom(session.Viewport().Zoom(), false));
    foreground.Viewport().PanBy(foreground.Viewport().ScrollX() - session.Viewport().ScrollX(),
                                foreground.Viewport().ScrollY() - session.Viewport().ScrollY());
    foreground.Render(true);
    const MapRenderer& a = session.Renderer();
    const MapRenderer& b = foreground.Renderer();
    ASSERT_EQ(a.LastGrid(), b.LastGrid());
    ASSERT_NE(a.LastFrame(), nullptr);
    ASSERT_NE(b.LastFrame(), nullptr);
    const auto rowBytes = static_cast<std::size_t>(a.LastFrame()->width()) * 3;
    for (int y = 0; y < a.LastFrame()->height(); ++y)
        ASSERT_EQ(
            std::memcmp(a.LastFrame()->constScanLine(y), b.LastFrame()->constScanLine(y), rowBytes),
            0)
            << "row " << y;
    EXPECT_EQ(a.ViewImage(), b.ViewImage());
}

}  // namespace
