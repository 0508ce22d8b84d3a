// The cut order checked against its rules, stated here from what the cutter
// needs rather than from the code: shapes inside others first, every segment
// cut once as drawn (open paths either way round, closed ones from any
// vertex), the same order every time, and no more travel than as drawn;
// then the same through a whole cutter job, read back by the decoder.

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

} // namespace

Q_DECLARE_METATYPE(Drawing)
Q_DECLARE_METATYPE(Path)
Q_DECLARE_METATYPE(std::vector<Path>)
Q_DECLARE_METATYPE(CutStep)

class TestCutOrder : public QObject {
    Q_OBJECT
private slots:
    void orderKeepsEveryRule_data();
    void orderKeepsEveryRule();
    void knifeGoesToTheNearestStart_data();
    void knifeGoesToTheNearestStart();
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
