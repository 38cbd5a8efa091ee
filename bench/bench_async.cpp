// Composing in the background on the photo stores (JPEG and PNG, 256-pixel
// tiles) in 1920 x 1080 and 3840 x 2160 views: a zoom step from the level
// above the deepest to the deepest. Every iteration times the measured way
// and, in alternating order, the baseline: the same step composed in the
// foreground before it returns, then painted ("forced_ms").
//   paired/KIND/VIEW/standin-vs-forced   from the zoom request to the stand-in
//                                        presented and painted (target: at
//                                        most 16 ms);
//   paired/KIND/VIEW/visible-vs-forced   to every cell the view shows drawn,
//                                        presented and painted (target: a
//                                        ratio of at most 0.2);
//   paired/KIND/VIEW/inputgap-vs-forced  the longest gap between two events
//                                        of a 1 ms timer in an event loop,
//                                        from the zoom request (handled in
//                                        that loop) to the block's end, with
//                                        the progress taken in and painted
//                                        there as the window does (target: at
//                                        most 16 ms).
// A paint draws the view picture (or the area that changed) on a picture in
// the format of a window's backing store. Each runs three times, interleaved
// at random; "ratio" is measured over forced (the median run is printed at the
// end), "ms" the measured time and "of_16ms" its share of a 60 Hz frame.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "mapsession.h"
#include "photostores.h"
#include "ratioreporter.h"

namespace {

using benchsupport::PhotoKind;
using Clock = std::chrono::steady_clock;

constexpr int kRepetitions = 3;
constexpr double kFrameMs = 1000.0 / 60.0;

struct ViewSize {
    int width;
    int height;
    std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
};

const ViewSize kViews[] = {{1920, 1080}, {3840, 2160}};
const PhotoKind kKinds[] = {{benchsupport::PhotoFormat::Jpeg, 256},
                            {benchsupport::PhotoFormat::Png, 256}};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A session on a photo store at its deepest level, composed, and the backing
// store its paints go to.
class Scene {
public:
    Scene(const PhotoKind& kind, const ViewSize& size, bool background)
        : backing_(size.width, size.height, QImage::Format_RGB32) {
        std::string error;
        if (!session_.Open(benchsupport::PhotoStorePath(kind), size.width, size.height, error)) {
            std::fprintf(stderr, "cannot open the %s store: %s\n", kind.Name().c_str(),
                         error.c_str());
            std::abort();
        }
        if (background)
            session_.SetAsync(true, [this] {
                const std::lock_guard lock(mutex_);
                woken_ = true;
                wake_.notify_all();
            });
        session_.Viewport().SetZoom(kind.MaxZoom(), true);
        session_.Render(true);
        session_.WaitForComposition();
    }

    corvalis::MapSession& Session() { return session_; }

    // One level up, composed (not timed): the step back in is measured.
    void ZoomOut() {
        session_.ZoomOut();
        session_.Render(true);
        session_.WaitForComposition();
    }
    // The window's paint of (an area of) the view picture.
    void Paint(const QRect& area = QRect()) {
        const QImage& view = session_.Renderer().ViewImage();
        QPainter painter(&backing_);
        const QRect part = area.isNull() ? view.rect() : area;
        painter.drawImage(part.topLeft(), view, part);
    }
    // Takes in progress, painting what changed, until every visible cell is shown.
    void UntilViewComplete() {
        for (;;) {
            const corvalis::RenderProgress progress = session_.Update();
            if (progress.redraw) Paint(progress.area);
            if (session_.Renderer().ViewComplete(session_.Viewport())) return;
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return woken_; });
            woken_ = false;
        }
    }

private:
    corvalis::MapSession session_;
    QImage backing_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

// One zoom step in the foreground: composed before it returns, then painted.
double ForcedStep(Scene& scene) {
    scene.ZoomOut();
    const auto start = Clock::now();
    scene.Session().ZoomIn();
    scene.Session().Render(true);
    scene.Paint();
    return Ms(Clock::now() - start);
}

// One zoom step in the background, up to the stand-in painted, or up to
// every visible cell painted; the rest of the block is waited for untimed.
double StandInStep(Scene& scene, bool toVisible) {
    scene.ZoomOut();
    const auto start = Clock::now();
    scene.Session().ZoomIn();
    scene.Session().Render(true);
    scene.Paint();
    if (toVisible) scene.UntilViewComplete();
    const double ms = Ms(Clock::now() - start);
    scene.Session().WaitForComposition();
    return ms;
}

// The longest gap between two ticks of a 1 ms timer while the zoom step is
// handled and its block composed, with the window's work in the same loop.
double LongestGap(Scene& scene) {
    corvalis::MapSession& session = scene.Session();
    QEventLoop loop;
    QObject window;
    QRect dirty;  // to paint, gathered as QWidget::update gathers it
    session.SetAsync(true, [&window, &scene, &loop, &dirty] {
        QMetaObject::invokeMethod(
            &window,
            [&] {
                const corvalis::RenderProgress progress = scene.Session().Update();
                if (progress.redraw && dirty.isEmpty())
                    QMetaObject::invokeMethod(
                        &window,
                        [&] {
                            scene.Paint(dirty);
                            dirty = QRect();
                        },
                        Qt::QueuedConnection);
                if (progress.redraw) dirty |= progress.area;
                if (!scene.Session().Composing()) loop.quit();
            },
            Qt::QueuedConnection);
    });
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    Clock::time_point last = Clock::now();
    double longest = 0;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, Ms(now - last));
        last = now;
    });
    ticks.start();
    QTimer::singleShot(0, &window, [&] {
        last = Clock::now();
        session.ZoomIn();
        session.Render(true);
        scene.Paint();
    });
    loop.exec();
    longest = std::max(longest, Ms(Clock::now() - last));
    session.SetAsync(true, {});  // the loop's window goes
    return longest;
}

double InputGapStep(Scene& scene) {
    scene.ZoomOut();
    return LongestGap(scene);
}

enum class Measure { StandIn, Visible, InputGap };

// The measured way and the forced step in every iteration, in alternating
// order, so that both meet the same load on a busy machine.
void Paired(benchmark::State& state, PhotoKind kind, ViewSize size, Measure measure) {
    Scene forced(kind, size, false);
    Scene background(kind, size, true);
    auto measured = [&] {
        switch (measure) {
            case Measure::StandIn: return StandInStep(background, false);
            case Measure::Visible: return StandInStep(background, true);
            default: return InputGapStep(background);
        }
    };
    double measuredSum = 0;
    double forcedSum = 0;
    bool forcedFirst = false;
    for (auto _ : state) {
        double f = forcedFirst ? ForcedStep(forced) : 0;
        const double m = measured();
        if (!forcedFirst) f = ForcedStep(forced);
        forcedFirst = !forcedFirst;
        measuredSum += m;
        forcedSum += f;
        state.SetIterationTime(m / 1e3);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ms"] = measuredSum / n;
    state.counters["forced_ms"] = forcedSum / n;
    state.counters["of_16ms"] = measuredSum / n / kFrameMs;
    state.counters["ratio"] = forcedSum > 0 ? measuredSum / forcedSum : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::pair<const char*, Measure> measures[] = {{"standin", Measure::StandIn},
                                                        {"visible", Measure::Visible},
                                                        {"inputgap", Measure::InputGap}};
    for (const PhotoKind& kind : kKinds)
        for (const ViewSize& size : kViews)
            for (const auto& [name, measure] : measures) {
                const std::string scene = kind.Name() + "/" + size.Name();
                // A few compositions of a PNG block take a second: a fixed count each.
                const int iterations = kind.format == benchsupport::PhotoFormat::Png ? 6 : 12;
                benchmark::RegisterBenchmark(
                    ("paired/" + scene + "/" + name + "-vs-forced").c_str(), Paired, kind, size,
                    measure)
                    ->Unit(benchmark::kMillisecond)
                    ->UseManualTime()
                    ->Iterations(iterations)
                    ->Repetitions(kRepetitions);
            }
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave.data());
    return benchsupport::RunWithRatios(static_cast<int>(args.size()), args.data(), {});
}
