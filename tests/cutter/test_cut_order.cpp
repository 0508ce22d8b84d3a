// The cut order checked against its rules, stated here from what the cutter
// needs rather than from the code: shapes inside others first, every segment
// cut once as drawn (open paths either way round, closed ones from any
// vertex), the same order every time, and no more travel than as drawn.

#include "cutter/CutOrder.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

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

QTEST_GUILESS_MAIN(TestCutOrder)
#include "test_cut_order.moc"
