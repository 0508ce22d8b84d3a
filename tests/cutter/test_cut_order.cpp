// The cut order checked against its rules, stated here from what the cutter
// needs rather than from the code: shapes inside others first, every segment
// cut once as drawn (open paths either way round, closed ones from any
// vertex), the same order every time, and no more travel than as drawn;
// then the same through a whole cutter job, read back by the decoder.

#include "common/Exceptions.h"
#include "cutter/CalibrationPatterns.h"
#include "cutter/CutOrder.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/SurfaceDrawing.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Path = std::vector<PointMm>;

Path Rect(double x, double y, double w, double h)
{
    return {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}, {x, y}};
}

Path Circle(double cx, double cy, double r, int chords)
{
    Path p;
    for (int i = 0; i <= chords; ++i) {
        const double a = 2 * 3.14159265358979 * (i % chords) / chords;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

// A drawing and which of its paths lie inside which (inner, outer).
struct Drawing {
    std::vector<Path> Paths;
    std::vector<std::pair<int, int>> Inside;

    int Add(Path p, std::initializer_list<int> outers = {})
    {
        Paths.push_back(std::move(p));
        const int id = static_cast<int>(Paths.size()) - 1;
        for (const int o : outers)
            Inside.push_back({id, o});
        return id;
    }
};

Drawing Letters()
{
    Drawing d;
    const int o = d.Add(Rect(0, 0, 10, 14)); // O
    d.Add(Rect(3, 3, 4, 8), {o});
    const int b = d.Add(Rect(12, 0, 10, 14)); // B, its two counters
    d.Add(Rect(15, 2, 4, 4), {b});
    d.Add(Rect(15, 8, 4, 4), {b});
    const int a = d.Add({{24, 0}, {29, 14}, {34, 0}, {24, 0}}); // A, counter and bar
    d.Add({{28, 5}, {30, 5}, {29, 8}, {28, 5}}, {a});
    d.Add({{40, 0}, {40, 14}}); // l, an open stroke
    return d;
}

Drawing FrameWithHoles()
{
    Drawing d;
    const int frame = d.Add(Rect(0, 0, 100, 60));
    for (int i = 0; i < 4; ++i)
        d.Add(Circle(15 + 23 * i, 30, 8, 24), {frame});
    d.Add(Rect(120, 0, 10, 10)); // beside it, not in it
    return d;
}

// The knife starts on each encloser's corner, so only the rule holds it back.
Drawing OnTheOutline()
{
    Drawing d;
    const int frame = d.Add(Rect(0, 0, 100, 60));
    d.Add(Rect(60, 50, 40, 10), {frame}); // shares two edges with it
    const int square = d.Add(Rect(0, 70, 40, 40));
    d.Add({{20, 70}, {40, 90}, {20, 110}, {0, 90}, {20, 70}}, {square}); // corners all on it
    d.Add(Rect(200, 0, 10, 10));                                         // twice the same: neither is inside the other
    d.Add(Rect(200, 0, 10, 10));
    return d;
}

// A drawing program's double export: each shape twice, the copies started
// elsewhere. Neither copy of the letter may go before either counter.
Drawing TwiceDrawn()
{
    Drawing d;
    const int o = d.Add(Rect(0, 0, 10, 14));
    const int copy = d.Add({{10, 14}, {0, 14}, {0, 0}, {10, 0}, {10, 14}});
    d.Add(Rect(3, 3, 4, 8), {o, copy});
    d.Add({{7, 11}, {3, 11}, {3, 3}, {7, 3}, {7, 11}}, {o, copy});
    return d;
}

Drawing ThreeLevels()
{
    Drawing d;
    const int outer = d.Add(Rect(0, 0, 60, 60));
    const int middle = d.Add(Rect(10, 10, 40, 40), {outer});
    d.Add(Circle(30, 30, 5, 32), {middle, outer});
    d.Add(Rect(70, 0, 60, 60));
    const int crossing = d.Add(Rect(50, 20, 30, 20)); // crosses both squares: in neither
    d.Add(Rect(55, 25, 4, 4), {crossing, outer});
    return d;
}

Drawing SampleCircles()
{
    TPLT store;
    ReadPlotText(store, BuiltInSampleLines());
    Drawing d;
    for (const TPolygonView poly : store.Polygons()) {
        Path p;
        for (const TPoint q : poly.Points)
            p.push_back({q.X / 100.0, q.Y / 100.0});
        d.Add(std::move(p));
    }
    return d;
}

// The drawing in a fixed shuffled order; Inside follows the paths.
Drawing Shuffled(Drawing d, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<int> to(d.Paths.size());
    for (size_t i = 0; i < to.size(); ++i)
        to[i] = static_cast<int>(i);
    for (size_t i = to.size(); i > 1; --i)
        std::swap(to[i - 1], to[random() % i]);
    Drawing s;
    s.Paths.resize(d.Paths.size());
    for (size_t i = 0; i < to.size(); ++i)
        s.Paths[static_cast<size_t>(to[i])] = d.Paths[i];
    for (const auto& [in, out] : d.Inside)
        s.Inside.push_back({to[static_cast<size_t>(in)], to[static_cast<size_t>(out)]});
    return s;
}

using Segment = std::pair<std::pair<double, double>, std::pair<double, double>>;

// Every segment, open paths' with its ends in a fixed order.
std::vector<Segment> Segments(const std::vector<Path>& paths)
{
    std::vector<Segment> all;
    for (const Path& p : paths) {
        const bool closed = p.size() >= 4 && p.front() == p.back();
        for (size_t i = 1; i < p.size(); ++i) {
            Segment s{{p[i - 1].X, p[i - 1].Y}, {p[i].X, p[i].Y}};
            if (!closed && s.second < s.first)
                std::swap(s.first, s.second);
            all.push_back(s);
        }
    }
    std::sort(all.begin(), all.end());
    return all;
}

// A decoded job: each cut in whole plotter units, and the pen-up travel in mm.
struct Job {
    std::vector<std::vector<std::pair<long, long>>> Cuts;
    double TravelMm = 0;
};

Job Decoded(SendAs language, const QByteArray& bytes)
{
    QString error;
    const auto cuts = DecodePlotterJob(language, bytes, &error);
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    const double units = PlotterUnitsPerMm(language);
    Job job;
    QPointF at;
    for (const auto& cut : cuts) {
        job.TravelMm += std::hypot(cut.front().x() - at.x(), cut.front().y() - at.y());
        at = cut.back();
        auto& c = job.Cuts.emplace_back();
        for (const QPointF& p : cut)
            c.push_back({std::lround(p.x() * units), std::lround(p.y() * units)});
    }
    return job;
}

// A cut's points whatever its start or direction (a closed one's once).
std::vector<std::pair<long, long>> Shape(std::vector<std::pair<long, long>> cut)
{
    if (cut.size() > 1 && cut.front() == cut.back())
        cut.pop_back();
    std::sort(cut.begin(), cut.end());
    return cut;
}

// Squares around one centre, 0.05 mm apart, the outermost first.
std::vector<Path> ConcentricSquares(int count)
{
    std::vector<Path> paths;
    for (int i = count; i > 0; --i)
        paths.push_back(Rect(1000 - i * 0.025, 1000 - i * 0.025, i * 0.05, i * 0.05));
    return paths;
}

// Open strokes of two or three points on a 0.25 mm grid, where weighed
// distances are exact and ties are true ties.
std::vector<Path> RandomStrokes(int count, unsigned seed)
{
    std::mt19937 random(seed);
    const auto at = [&] { return double(random() % 1200) / 4; };
    std::vector<Path> strokes;
    for (int i = 0; i < count; ++i) {
        Path& p = strokes.emplace_back();
        for (unsigned k = 0, n = 2 + random() % 2; k < n; ++k)
            p.push_back({at(), at()});
    }
    return strokes;
}

// Open paths in nearest-first order, found the plain way: both ends of every
// path not yet cut weighed from the knife; ties to the lower path, then its
// first end.
std::vector<CutStep> NearestFirst(const std::vector<Path>& strokes, FeedAxis feed)
{
    const double wx = feed == FeedAxis::X ? 2 : 1, wy = feed == FeedAxis::Y ? 2 : 1;
    std::vector<bool> cut(strokes.size());
    std::vector<CutStep> order;
    PointMm knife{0, 0};
    while (order.size() < strokes.size()) {
        CutStep best;
        double bestD2 = -1;
        for (size_t i = 0; i < strokes.size(); ++i)
            for (const bool reversed : {false, true}) {
                const PointMm end = reversed ? strokes[i].back() : strokes[i].front();
                const double dx = (end.X - knife.X) * wx, dy = (end.Y - knife.Y) * wy;
                if (!cut[i] && (bestD2 < 0 || dx * dx + dy * dy < bestD2)) {
                    best = {i, reversed, 0};
                    bestD2 = dx * dx + dy * dy;
                }
            }
        cut[best.Index] = true;
        order.push_back(best);
        knife = best.Reversed ? strokes[best.Index].front() : strokes[best.Index].back();
    }
    return order;
}

} // namespace

Q_DECLARE_METATYPE(Drawing)
Q_DECLARE_METATYPE(Path)
Q_DECLARE_METATYPE(std::vector<Path>)
Q_DECLARE_METATYPE(CutStep)
Q_DECLARE_METATYPE(std::vector<CutStep>)
using PairList = std::vector<std::pair<int, int>>;
Q_DECLARE_METATYPE(PairList)

class TestCutOrder : public QObject {
    Q_OBJECT
private slots:
    void orderKeepsEveryRule_data();
    void orderKeepsEveryRule();
    void knifeGoesToTheNearestStart_data();
    void knifeGoesToTheNearestStart();
    void pathsGoNearestFirst_data();
    void pathsGoNearestFirst();
    void largeNestsOrderInLittleMemory_data();
    void largeNestsOrderInLittleMemory();
    void stopEndsTheOrdering();
    void gridCellsKeepTheirToolsInAnyOrder_data();
    void gridCellsKeepTheirToolsInAnyOrder();
    void weedBoxSurroundsTheDrawing_data();
    void weedBoxSurroundsTheDrawing();
    void wholeJobCutsTheSameInTheBetterOrder_data();
    void wholeJobCutsTheSameInTheBetterOrder();
};

void TestCutOrder::orderKeepsEveryRule_data()
{
    QTest::addColumn<Drawing>("drawing");
    QTest::newRow("letters with counters") << Shuffled(Letters(), 1);
    QTest::newRow("frame with holes") << Shuffled(FrameWithHoles(), 2);
    QTest::newRow("shapes on their encloser's outline") << Shuffled(OnTheOutline(), 5);
    QTest::newRow("a letter and its counter, each drawn twice") << TwiceDrawn();
    QTest::newRow("three levels, a crossing shape") << Shuffled(ThreeLevels(), 3);
    QTest::newRow("the sample as drawn") << SampleCircles();
    Drawing open;
    for (int i = 0; i < 40; ++i)
        open.Add({{i * 7.0, (i % 3) * 5.0}, {i * 7.0 + 3, (i % 5) * 4.0}, {i * 7.0 + 1, 20}});
    QTest::newRow("open strokes, shuffled") << Shuffled(open, 4);
}

void TestCutOrder::orderKeepsEveryRule()
{
    QFETCH(Drawing, drawing);
    CutOrder order;
    const CutPaths cut = OrderedCutPaths(drawing.Paths, {}, &order);

    QCOMPARE(order.Steps.size(), drawing.Paths.size());
    std::vector<int> position(drawing.Paths.size(), -1);
    for (size_t i = 0; i < order.Steps.size(); ++i)
        position[order.Steps[i].Index] = static_cast<int>(i);
    for (const auto& [in, out] : drawing.Inside)
        QVERIFY2(position[static_cast<size_t>(in)] < position[static_cast<size_t>(out)],
                 qPrintable(QStringLiteral("path %1 cut after %2, which encloses it").arg(in).arg(out)));
    QVERIFY(Segments(cut) == Segments(drawing.Paths));

    QCOMPARE(OrderCuts(drawing.Paths).Steps, order.Steps);
    QVERIFY2(order.TravelAfterMm <= order.TravelBeforeMm,
             qPrintable(QStringLiteral("%1 mm after, %2 before").arg(order.TravelAfterMm).arg(order.TravelBeforeMm)));
    QCOMPARE(order.TravelAfterMm, PenUpTravelMm(cut));
}

void TestCutOrder::knifeGoesToTheNearestStart_data()
{
    QTest::addColumn<std::vector<Path>>("paths");
    QTest::addColumn<int>("feed"); // 0: x, 1: y
    QTest::addColumn<CutStep>("first");

    // From the origin: 3 mm across, or 2 mm along the feed (4 mm weighed).
    const std::vector<Path> two{{{0, 2}, {0, 10}}, {{3, 0}, {10, 0}}};
    QTest::newRow("feed on y: across goes first") << two << 1 << CutStep{1, false, 0};
    QTest::newRow("feed on x: along y goes first") << two << 0 << CutStep{0, false, 0};
    QTest::newRow("open path from its nearer end")
        << std::vector<Path>{{{9, 9}, {5, 0}, {1, 1}}} << 1 << CutStep{0, true, 0};
    // The square's nearest vertex is mid-edge; its corners are 1 mm further.
    QTest::newRow("closed path from a corner near the knife")
        << std::vector<Path>{{{0, 0}, {1, 0}, {1, 2}, {-1, 2}, {-1, 0}, {0, 0}}} << 1 << CutStep{0, false, 1};
    QTest::newRow("a circle from its nearest vertex")
        << std::vector<Path>{Circle(20, 0, 5, 36)} << 1 << CutStep{0, false, 18};
    // A tilted rectangle: its corner (0, 5) is nearer, (7, 0) nearer with
    // the feed counted twice.
    QTest::newRow("a closed path from the corner nearest by the feed's weight")
        << std::vector<Path>{{{0, 5}, {7, 0}, {12, 7}, {5, 12}, {0, 5}}} << 1 << CutStep{0, false, 1};
    // Twelve strokes out from points 15 mm from the knife, weighed: the
    // first drawn goes first, whichever it is.
    std::vector<Path> ring;
    for (const auto& [x, y] : std::initializer_list<std::pair<double, double>>{{15, 0},
                                                                               {-15, 0},
                                                                               {0, 7.5},
                                                                               {0, -7.5},
                                                                               {9, 6},
                                                                               {-9, 6},
                                                                               {9, -6},
                                                                               {-9, -6},
                                                                               {12, 4.5},
                                                                               {-12, 4.5},
                                                                               {12, -4.5},
                                                                               {-12, -4.5}})
        ring.push_back({{x, y}, {3 * x, 3 * y}});
    QTest::newRow("equally near: the first drawn") << ring << 1 << CutStep{0, false, 0};
    std::reverse(ring.begin(), ring.end());
    QTest::newRow("equally near, drawn the other way round: the first drawn") << ring << 1 << CutStep{0, false, 0};
}

void TestCutOrder::knifeGoesToTheNearestStart()
{
    QFETCH(std::vector<Path>, paths);
    QFETCH(int, feed);
    QFETCH(CutStep, first);
    CutOrderOptions options;
    options.Feed = feed == 0 ? FeedAxis::X : FeedAxis::Y;
    QCOMPARE(OrderCuts(paths, options).Steps.front(), first);
}

void TestCutOrder::pathsGoNearestFirst_data()
{
    QTest::addColumn<std::vector<Path>>("paths");
    QTest::addColumn<int>("feed"); // 0: x, 1: y
    QTest::addColumn<std::vector<CutStep>>("order");

    const std::vector<Path> strokes = RandomStrokes(400, 7);
    QTest::newRow("400 random strokes, feed on y") << strokes << 1 << NearestFirst(strokes, FeedAxis::Y);
    QTest::newRow("400 random strokes, feed on x") << strokes << 0 << NearestFirst(strokes, FeedAxis::X);
    // From (10, 10), where the first stroke ends: 3 mm along the feed (6
    // weighed) before 7 mm across.
    QTest::newRow("the knife weighed where it stands")
        << std::vector<Path>{{{0, 0}, {10, 10}}, {{10, 13}, {10, 40}}, {{17, 10}, {40, 10}}} << 1
        << std::vector<CutStep>{{0, false, 0}, {1, false, 0}, {2, false, 0}};
    const Path stroke{{5, 0}, {5, 10}};
    QTest::newRow("copies of one stroke, back and forth")
        << std::vector<Path>{stroke, stroke, stroke} << 1
        << std::vector<CutStep>{{0, false, 0}, {1, true, 0}, {2, false, 0}};
    // Inside first, each from the corner where the last one ended.
    const std::vector<Path> nested = ConcentricSquares(3);
    QTest::newRow("nested squares, the innermost first")
        << nested << 1 << std::vector<CutStep>{{2, false, 0}, {1, false, 0}, {0, false, 0}};
}

void TestCutOrder::pathsGoNearestFirst()
{
    QFETCH(std::vector<Path>, paths);
    QFETCH(int, feed);
    QFETCH(std::vector<CutStep>, order);
    CutOrderOptions options;
    options.Feed = feed == 0 ? FeedAxis::X : FeedAxis::Y;
    const std::vector<CutStep> steps = OrderCuts(paths, options).Steps;
    QCOMPARE(steps.size(), order.size());
    for (size_t i = 0; i < steps.size(); ++i)
        QVERIFY2(steps[i] == order[i], qPrintable(QStringLiteral("step %1: path %2 (%3, vertex %4), not %5 (%6)")
                                                      .arg(i)
                                                      .arg(steps[i].Index)
                                                      .arg(steps[i].Reversed ? "reversed" : "forward")
                                                      .arg(steps[i].StartVertex)
                                                      .arg(order[i].Index)
                                                      .arg(order[i].Reversed ? "reversed" : "forward")));
}

void TestCutOrder::largeNestsOrderInLittleMemory_data()
{
    QTest::addColumn<std::vector<Path>>("paths");
    QTest::addColumn<PairList>("inside"); // (inner, outer), beside the nesting
    QTest::newRow("30,000 nested squares") << ConcentricSquares(30000) << PairList{};
    QTest::newRow("100,000 copies of one square") << std::vector<Path>(100000, Rect(10, 10, 10, 10)) << PairList{};
    // Copies of a frame round copies of its hole: every hole before every frame.
    std::vector<Path> framed(20000, Rect(0, 0, 30, 30));
    framed.insert(framed.end(), 20000, Rect(10, 10, 10, 10));
    QTest::newRow("20,000 frames round 20,000 holes")
        << framed << PairList{{20000, 0}, {39999, 19999}, {20000, 19999}, {39999, 0}};
}

// A plot of a few MB orders in a few times its own memory, however its
// shapes nest or pile up: a child process orders it under an address-space
// limit, and checks inside-first (nested squares: the innermost first).
void TestCutOrder::largeNestsOrderInLittleMemory()
{
#if !defined(Q_OS_LINUX) || defined(__SANITIZE_ADDRESS__)
    QSKIP("needs fork and an address-space limit");
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
    QSKIP("a sanitizer reserves more address space than the limit");
#endif
#endif
    QFETCH(std::vector<Path>, paths);
    QFETCH(PairList, inside);
    const bool nested = inside.empty() && paths.front() != paths.back();
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        // What the process holds now (the paths among it), and 300 MB more.
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlimit limit{rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (300u << 20),
                           rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (300u << 20)};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
            ::_exit(3);
        try {
            const CutOrder order = OrderCuts(paths);
            std::vector<size_t> position(paths.size());
            for (size_t i = 0; i < order.Steps.size(); ++i)
                position[order.Steps[i].Index] = i;
            bool good = order.Steps.size() == paths.size();
            for (size_t i = 1; good && nested && i < paths.size(); ++i)
                good = position[i] < position[i - 1];
            for (const auto& [in, out] : inside)
                good = good && position[size_t(in)] < position[size_t(out)];
            ::_exit(good ? 0 : 1);
        } catch (const std::bad_alloc&) {
            ::_exit(2);
        }
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY2(WIFEXITED(status), qPrintable(QStringLiteral("ended by signal %1").arg(WTERMSIG(status))));
    const char* outcome[] = {"ordered", "out of order", "out of memory", "no limit could be set"};
    QCOMPARE(outcome[std::min(WEXITSTATUS(status), 3)], outcome[0]);
#endif
}

// Asked to stop, the ordering ends at its next asking, and the job passes
// nothing on: the knife never cuts a job put in order only in part.
void TestCutOrder::stopEndsTheOrdering()
{
    const std::vector<Path> paths = ConcentricSquares(30000);
    int asked = 0;
    CutOrderOptions options;
    options.Stopped = [&asked] { return ++asked == 3; };
    const CutOrder stopped = OrderCuts(paths, options);
    QVERIFY(stopped.Stopped);
    QCOMPARE(asked, 3);
    QVERIFY(stopped.Steps.size() < paths.size());
    options.Stopped = [&asked] { return ++asked < 0; };
    const CutOrder whole = OrderCuts(paths, options);
    QVERIFY(!whole.Stopped);
    QVERIFY(whole.Steps == OrderCuts(paths).Steps);

    Plot plot;
    for (const Path& p : std::vector<Path>(ConcentricSquares(2000))) {
        auto& line = plot.emplace_back();
        for (const PointMm q : p) // 0.01 mm, the squares moved to the sheet's middle
            line.push_back(
                {std::int32_t(std::lround(q.X * 100)) - 90000, std::int32_t(std::lround(q.Y * 100)) - 90000});
    }
    DeviceSettings s = Sheet(300, 300);
    s.Language = SendAs::HPGL;
    s.Corrections.Order = CutOrderMode::Optimised;
    StringSink sink;
    CutterSurface surface(s, Dpi, sink, [] { return true; });
    Print(surface, OrientPage(s), {0, 0}, plot);
    QVERIFY_THROWS_EXCEPTION(EPrinter, surface.Finish());
    QVERIFY2(!QByteArray::fromStdString(sink.Bytes()).contains("PD"), sink.Bytes().c_str());
}

void TestCutOrder::gridCellsKeepTheirToolsInAnyOrder_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::newRow("HPGL") << SendAs::HPGL;
    QTest::newRow("DMPL") << SendAs::DMPL;
    QTest::newRow("GP-GL") << SendAs::GPGL;
}

// The grid's cells in the order that cuts them best: each path read back is
// cut at the force and speed of the cell it was drawn in.
void TestCutOrder::gridCellsKeepTheirToolsInAnyOrder()
{
    QFETCH(SendAs, language);
    const std::vector<ToolSetting> cells = {{5, 3}, {5, 6}, {10, 3}, {10, 6}, {15, 3}, {15, 6}, {20, 3}, {20, 6}};
    TPLT plt;
    DeviceSettings s = Sheet(300, 300);
    MakeGridPattern(plt, cells, 2, s.Corrections.PathTools);
    s.Corrections.Force = 25;
    s.Corrections.Speed = 4;
    s.Corrections.Order = CutOrderMode::Optimised;
    Plot plot;
    for (const TPolygonView polygon : TPolygonRange(plt))
        plot.emplace_back(polygon.Points.begin(), polygon.Points.end());
    QString error;
    std::vector<DecodedTool> tools;
    const QByteArray job = CutterJob(s, language, {0, 0}, plot);
    QCOMPARE(DecodePlotterJob(language, job, &error, &tools).size(), plot.size());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const Job ordered = Decoded(language, job);

    // Each drawn path's tool, found by its points as cut without reordering.
    s.Corrections.Order = CutOrderMode::Drawn;
    const Job asDrawn = Decoded(language, CutterJob(s, language, {0, 0}, plot));
    QCOMPARE(asDrawn.Cuts.size(), plot.size());
    bool moved = false;
    for (size_t k = 0; k < ordered.Cuts.size(); ++k) {
        ToolSetting at{25, 4};
        for (const DecodedTool& t : tools)
            if (t.PathsBefore <= k)
                (t.What == 'F' ? at.Force : at.Speed) = t.Value;
        size_t drawnAt = plot.size();
        for (size_t i = 0; i < asDrawn.Cuts.size(); ++i)
            if (Shape(asDrawn.Cuts[i]) == Shape(ordered.Cuts[k]))
                drawnAt = i;
        QVERIFY2(drawnAt < plot.size(), qPrintable(QStringLiteral("cut %1 is none of the grid's").arg(k)));
        moved = moved || drawnAt != k;
        const ToolSetting& own = s.Corrections.PathTools[drawnAt];
        QVERIFY2(at == own,
                 qPrintable(QStringLiteral("cut %1 (path %2 as drawn) at force %3, speed %4; its cell's: %5, %6")
                                .arg(k)
                                .arg(drawnAt)
                                .arg(at.Force)
                                .arg(at.Speed)
                                .arg(own.Force)
                                .arg(own.Speed)));
    }
    QVERIFY(moved); // the order did change
}

void TestCutOrder::weedBoxSurroundsTheDrawing_data()
{
    QTest::addColumn<double>("distance");
    QTest::addColumn<Path>("box");
    QTest::newRow("5 mm out") << 5.0 << Path{{-5, -7}, {35, -7}, {35, 24}, {-5, 24}, {-5, -7}};
    QTest::newRow("off") << 0.0 << Path{};
}

void TestCutOrder::weedBoxSurroundsTheDrawing()
{
    QFETCH(double, distance);
    QFETCH(Path, box);
    QCOMPARE(WeedBox({{{0, -2}, {30, 4}}, {}, Rect(3, 3, 4, 16)}, distance), box);
    QVERIFY(WeedBox({}, 5).empty());
}

void TestCutOrder::wholeJobCutsTheSameInTheBetterOrder_data()
{
    QTest::addColumn<Drawing>("drawing");
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<bool>("turned"); // axes turned and mirrored
    QTest::addColumn<double>("weed");
    QTest::newRow("letters") << Shuffled(Letters(), 1) << SendAs::HPGL << false << 0.0;
    QTest::newRow("three levels, axes turned") << Shuffled(ThreeLevels(), 3) << SendAs::DMPL << true << 0.0;
    // The drawing sits in the sheet's corner: the box is cut off there.
    QTest::newRow("frame, weed box at the sheet's edge")
        << Shuffled(FrameWithHoles(), 2) << SendAs::GPGL << false << 5.0;
    QTest::newRow("the sample") << SampleCircles() << SendAs::CAMMGL << false << 0.0;
}

void TestCutOrder::wholeJobCutsTheSameInTheBetterOrder()
{
    QFETCH(Drawing, drawing);
    QFETCH(SendAs, language);
    QFETCH(bool, turned);
    QFETCH(double, weed);
    Plot plot;
    for (const Path& p : drawing.Paths) {
        auto& line = plot.emplace_back();
        for (const PointMm q : p) // 0.01 mm units
            line.push_back(
                {static_cast<std::int32_t>(std::lround(q.X * 100)), static_cast<std::int32_t>(std::lround(q.Y * 100))});
    }
    DeviceSettings s = Sheet(600, 1000);
    s.Rotate90 = s.MirrorY = turned;
    s.Corrections.WeedBoxMm = weed;
    const TPoint origin = weed > 0 ? TPoint{0, 0} : TPoint{-1000, -1500};
    const QByteArray drawn = CutterJob(s, language, origin, plot);
    s.Corrections.Order = CutOrderMode::Optimised;
    const QByteArray optimised = CutterJob(s, language, origin, plot);
    QCOMPARE(CutterJob(s, language, origin, plot), optimised);
    const Job before = Decoded(language, drawn), after = Decoded(language, optimised);

    // Every segment once, as drawn; the weed box last either way.
    const auto segments = [](const Job& job) {
        std::vector<std::pair<std::pair<long, long>, std::pair<long, long>>> all;
        for (const auto& cut : job.Cuts)
            for (size_t i = 1; i < cut.size(); ++i)
                all.push_back(std::minmax(cut[i - 1], cut[i]));
        std::sort(all.begin(), all.end());
        return all;
    };
    QVERIFY(segments(after) == segments(before));
    const size_t paths = drawing.Paths.size();
    QCOMPARE(before.Cuts.size(), paths + (weed > 0 ? 1 : 0));
    QCOMPARE(after.Cuts.size(), before.Cuts.size());
    if (weed > 0) {
        QCOMPARE(after.Cuts.back(), before.Cuts.back());
        // The frame's outline is the bound: the box 5 mm out, cut off at the
        // sheet's edges x = 0 and y = 0 (GP-GL: 20 units a mm).
        const auto box = Shape(after.Cuts.back());
        QCOMPARE(box.front(), std::make_pair(0L, 1300L));
        QCOMPARE(box.back(), std::make_pair(2700L, 1300L));
        // What is cut off is the box's, not the plot's: nothing to tell.
        s.Language = language;
        StringSink sink;
        CutterSurface surface(s, Dpi, sink);
        Print(surface, OrientPage(s), origin, plot);
        QVERIFY(!surface.Share().SomeLeftOut());
    }

    // Enclosed shapes first, found in the job by their points.
    std::vector<int> position(paths, -1);
    for (size_t i = 0; i < paths; ++i)
        for (size_t j = 0; j < paths; ++j)
            if (Shape(after.Cuts[j]) == Shape(before.Cuts[i]))
                position[i] = static_cast<int>(j);
    for (const auto& [in, out] : drawing.Inside)
        QVERIFY2(position[static_cast<size_t>(in)] < position[static_cast<size_t>(out)],
                 qPrintable(QStringLiteral("path %1 cut after %2, which encloses it").arg(in).arg(out)));
    QVERIFY2(after.TravelMm <= before.TravelMm,
             qPrintable(QStringLiteral("%1 mm of travel, %2 as drawn").arg(after.TravelMm).arg(before.TravelMm)));
}

QTEST_GUILESS_MAIN(TestCutOrder)
#include "test_cut_order.moc"
