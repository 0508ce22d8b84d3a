// Calibration: scale composed from measurements, the patterns, and the
// corrections as a cutter receives them: scaled lines that measure true in
// every language (the driver's PDF is held to the same cuts elsewhere), a
// drag knife that meets the corners once compensated (and misses them
// without), and overcut on closed paths only.

#include "common/Exceptions.h"
#include "cutter/CalibrationPatterns.h"
#include "cutter/CutterCorrections.h"
#include "tests/support/DragKnife.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/SurfaceDrawing.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

const std::pair<const char*, SendAs> Languages[] = {
    {"HPGL", SendAs::HPGL}, {"DMPL", SendAs::DMPL}, {"GPGL", SendAs::GPGL}, {"CAMMGL", SendAs::CAMMGL}};

Plot Lines(const TPLT& plt)
{
    Plot lines;
    for (const TPolygonView polygon : TPolygonRange(plt))
        lines.emplace_back(polygon.Points.begin(), polygon.Points.end());
    return lines;
}

// The cuts of the plot with its coordinates measured from the lower-left
// corner of a 300 x 300 mm sheet.
std::vector<std::vector<QPointF>> CutPaths(SendAs language, const CutterCorrections& c, const Plot& plot)
{
    DeviceSettings s = Sheet(300, 300);
    s.Corrections = c;
    QString error;
    auto paths = DecodePlotterJob(language, CutterJob(s, language, {0, 0}, plot), &error);
    if (!error.isEmpty())
        qWarning() << error;
    return paths;
}

double PathLength(const std::vector<QPointF>& path)
{
    double length = 0;
    for (size_t i = 1; i < path.size(); ++i)
        length += std::hypot(path[i].x() - path[i - 1].x(), path[i].y() - path[i - 1].y());
    return length;
}

} // namespace

class TestCalibration : public QObject {
    Q_OBJECT
private slots:
    void scaleComposesWithTheCurrentOne_data();
    void scaleComposesWithTheCurrentOne();
    void ladderSteps_data();
    void ladderSteps();
    void ladderSquaresDifferOnlyInOffset();
    void scaledLinesMeasureTrue_data();
    void scaledLinesMeasureTrue();
    void knifeMeetsTheCorners_data();
    void knifeMeetsTheCorners();
    void skewedCutterComesOutSquare_data();
    void skewedCutterComesOutSquare();
    void skewedJobLandsWhereASquareCutterPutsIt_data();
    void skewedJobLandsWhereASquareCutterPutsIt();
    void knifeKeepsToTheSheetAtItsEdges_data();
    void knifeKeepsToTheSheetAtItsEdges();
    void overcutClosesClosedPathsOnly_data();
    void overcutClosesClosedPathsOnly();
    void ladderOffsetsFollowTheirSquaresInAnyOrder();
    void gridCellsDifferOnlyInForceAndSpeed_data();
    void gridCellsDifferOnlyInForceAndSpeed();
};

void TestCalibration::scaleComposesWithTheCurrentOne_data()
{
    QTest::addColumn<double>("current");
    QTest::addColumn<double>("measured"); // on a 200 mm line
    QTest::addColumn<double>("expected"); // 0: refused
    QTest::newRow("long") << 100.0 << 201.0 << 99.50;
    QTest::newRow("second round composes") << 99.50 << 199.5 << 99.75;
    QTest::newRow("half the step size") << 100.0 << 100.0 << 200.0;
    QTest::newRow("exact stays") << 123.45 << 200.0 << 123.45;
    QTest::newRow("more than 50 % short") << 100.0 << 99.0 << 0.0;
    QTest::newRow("more than 50 % long") << 100.0 << 300.5 << 0.0;
    QTest::newRow("beyond the range") << 300.0 << 140.0 << 0.0;
    QTest::newRow("not a number") << 100.0 << qQNaN() << 0.0;
}

void TestCalibration::scaleComposesWithTheCurrentOne()
{
    QFETCH(double, current);
    QFETCH(double, measured);
    QFETCH(double, expected);
    if (expected == 0) {
        QVERIFY_THROWS_EXCEPTION(EConvertError, ComposedScalePercent(current, 200, measured));
        return;
    }
    QCOMPARE(ComposedScalePercent(current, 200, measured), expected);
}

void TestCalibration::ladderSteps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("squares"); // 0: refused
    QTest::addColumn<double>("last");
    QTest::newRow("default") << "0:0.5:0.05" << 11 << 0.5;
    QTest::newRow("one square") << "0.3:0.3:0.1" << 1 << 0.3;
    QTest::newRow("fine steps") << "0.2:0.3:0.01" << 11 << 0.3;
    QTest::newRow("past the range") << "0:1.6:0.1" << 0 << 0.0;
    QTest::newRow("falling") << "0.5:0:0.05" << 0 << 0.0;
    QTest::newRow("step does not divide") << "0:0.5:0.03" << 0 << 0.0;
    QTest::newRow("too many squares") << "0:1.5:0.05" << 0 << 0.0;
    // A step past the span would leave one square at FROM.
    QTest::newRow("step far past the span") << "0:1:10000000" << 0 << 0.0;
    QTest::newRow("endless step") << "0:1:inf" << 0 << 0.0;
    QTest::newRow("huge step") << "0:1:1e300" << 0 << 0.0;
    QTest::newRow("step a little past the span") << "0:1:2" << 0 << 0.0;
    QTest::newRow("two numbers") << "0:0.5" << 0 << 0.0;
    QTest::newRow("words") << "a:b:c" << 0 << 0.0;
}

void TestCalibration::ladderSteps()
{
    QFETCH(QString, text);
    QFETCH(int, squares);
    QFETCH(double, last);
    if (squares == 0) {
        QVERIFY_THROWS_EXCEPTION(EConvertError, LadderOffsets(ParseLadderSteps(text.toStdString())));
        return;
    }
    const std::vector<double> offsets = LadderOffsets(ParseLadderSteps(text.toStdString()));
    QCOMPARE(int(offsets.size()), squares);
    QCOMPARE(offsets.back(), last);
}

void TestCalibration::ladderSquaresDifferOnlyInOffset()
{
    const std::vector<double> offsets = LadderOffsets({0, 0.6, 0.05}); // 13 squares: tallies past two fives
    TPLT ladder;
    std::vector<double> pathOffsets;
    MakeLadderPattern(ladder, offsets, pathOffsets);
    QCOMPARE(pathOffsets.size(), size_t(ladder.NPolygons()));

    // Walk the squares: a square, its triangle, then tally ticks (5 or 1).
    TPolygon first[2], polygon;
    ladder.ReadPolygon(0, first[0]);
    ladder.ReadPolygon(1, first[1]);
    std::int32_t i = 0;
    for (size_t k = 0; k < offsets.size(); ++k) {
        const std::int32_t dx = first[0].Bound.Left - [&] {
            ladder.ReadPolygon(i, polygon);
            return polygon.Bound.Left;
        }();
        for (int shape = 0; shape < 2; ++shape, ++i) {
            ladder.ReadPolygon(i, polygon);
            QCOMPARE(pathOffsets[size_t(i)], offsets[k]);
            QCOMPARE(polygon.Points.size(), first[shape].Points.size());
            for (size_t p = 0; p < polygon.Points.size(); ++p)
                QCOMPARE(polygon.Points[p].X + dx, first[shape].Points[p].X);
        }
        int tally = 0;
        for (; i < ladder.NPolygons(); ++i) {
            ladder.ReadPolygon(i, polygon);
            if (polygon.Points.size() != 2)
                break; // the next square
            QCOMPARE(pathOffsets[size_t(i)], offsets[k]);
            const std::int32_t height = polygon.Bound.Top - polygon.Bound.Bottom;
            tally += height > 300 ? 5 : 1;
        }
        QCOMPARE(tally, int(k) + 1);
    }
    QCOMPARE(i, ladder.NPolygons());
}

void TestCalibration::scaledLinesMeasureTrue_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<double>("x"); // percent, as measurement leaves them
    QTest::addColumn<double>("y");
    for (const auto& [name, language] : Languages) {
        // 200 mm lines measured 250 and 160 mm: 80 % and 125 %.
        QTest::addRow("%s measured", name) << language << 80.0 << 125.0;
        QTest::addRow("%s step size", name) << language << 200.0 << 99.73;
    }
}

void TestCalibration::scaledLinesMeasureTrue()
{
    QFETCH(SendAs, language);
    QFETCH(double, x);
    QFETCH(double, y);
    TPLT plot;
    MakeScalePattern(plot, 200);
    TPolygon xLine, yLine;
    plot.ReadPolygon(0, xLine);
    plot.ReadPolygon(5, yLine);
    QCOMPARE(xLine.Points[1].X - xLine.Points[0].X, 20000);
    QCOMPARE(yLine.Points[1].Y - yLine.Points[0].Y, 20000);

    CutterCorrections c;
    c.ScaleXPercent = x;
    c.ScaleYPercent = y;
    const auto paths = CutPaths(language, c, Lines(plot));
    const double tolerance = 0.5 / PlotterUnitsPerMm(language);
    QCOMPARE(paths.size(), size_t(plot.NPolygons()));
    // Every point scaled about the cutter's origin, so the lines are
    // nominal x scale long and lie where the corrected cutter puts them.
    for (const auto* line : {&xLine, &yLine}) {
        const auto& cut = paths[line == &xLine ? 0 : 5];
        QCOMPARE(cut.size(), size_t(2));
        for (size_t k = 0; k < 2; ++k) {
            QVERIFY(std::abs(cut[k].x() - line->Points[k].X / 100.0 * x / 100) <= tolerance + 1e-9);
            QVERIFY(std::abs(cut[k].y() - line->Points[k].Y / 100.0 * y / 100) <= tolerance + 1e-9);
        }
    }
}

void TestCalibration::knifeMeetsTheCorners_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<double>("offset");
    QTest::addColumn<TPoint>("at"); // the test cut's lower-left corner, 0.01 mm
    QTest::addColumn<bool>("clockwise");
    QTest::addColumn<int>("framed"); // a 16 mm frame round it, cut last: 1 drawn, 2 the weed box
    for (const auto& [name, language] : Languages)
        for (double offset : {0.25, 0.5})
            QTest::addRow("%s %.2f", name, offset) << language << offset << TPoint{5000, 5000} << false << 0;
    // Files turn both ways: the arcs must swing with the corner.
    QTest::addRow("HPGL 0.50 clockwise") << SendAs::HPGL << 0.5 << TPoint{5000, 5000} << true << 0;
    QTest::addRow("GPGL 1.50 clockwise, framed") << SendAs::GPGL << 1.5 << TPoint{5000, 5000} << true << 1;
    // At the sheet's corner or edge the aligning stroke must find room
    // elsewhere, on the sheet and clear of all that is cut, later paths too.
    // (The knife's arcs round a corner reach the offset past it: a square
    // nearer the sheet's corner has its corners there cut short.)
    QTest::addRow("HPGL 0.50 at the corner") << SendAs::HPGL << 0.5 << TPoint{50, 50} << false << 0;
    QTest::addRow("HPGL 1.50 at the corner") << SendAs::HPGL << 1.5 << TPoint{150, 150} << false << 0;
    QTest::addRow("HPGL 0.50 near the left edge") << SendAs::HPGL << 0.5 << TPoint{300, 5000} << false << 0;
    for (double offset : {0.25, 1.5})
        QTest::addRow("HPGL %.2f framed", offset) << SendAs::HPGL << offset << TPoint{5000, 5000} << false << 1;
    // The box the device adds, and the squares in the order that suits them.
    QTest::addRow("HPGL 1.50 weed box, optimised") << SendAs::HPGL << 1.5 << TPoint{5000, 5000} << true << 2;
}

void TestCalibration::knifeMeetsTheCorners()
{
    QFETCH(SendAs, language);
    QFETCH(double, offset);
    QFETCH(TPoint, at);
    QFETCH(bool, clockwise);
    QFETCH(int, framed);
    TPLT square;
    MakeTestCutPattern(square);
    Plot plot = Lines(square);
    if (framed)
        plot.push_back({{-300, -300}, {1300, -300}, {1300, 1300}, {-300, 1300}, {-300, -300}});
    const size_t drawn = plot.size() - (framed == 2 ? 1 : 0);
    std::vector<std::vector<QPointF>> outline;
    for (auto& line : plot) {
        if (clockwise)
            std::reverse(line.begin(), line.end());
        outline.emplace_back();
        for (TPoint& p : line) {
            p = {p.X + at.X, p.Y + at.Y};
            outline.back().push_back(QPointF(p.X, p.Y) / 100);
        }
    }

    CutterCorrections c;
    if (framed == 2) {
        c.WeedBoxMm = 3;
        c.Order = CutOrderMode::Optimised;
    }
    const auto plain = CutPaths(language, c, Plot(plot.begin(), plot.begin() + ptrdiff_t(drawn)));
    c.BladeOffsetMm = offset;
    const auto compensated = CutPaths(language, c, Plot(plot.begin(), plot.begin() + ptrdiff_t(drawn)));
    // One more path than drawn: the stroke that aligns the blade, on the sheet.
    QCOMPARE(compensated.size(), plain.size() + 1);
    for (const QPointF& p : compensated.front())
        QVERIFY2(p.x() >= 0 && p.y() >= 0 && p.x() <= 300 && p.y() <= 300,
                 qPrintable(QStringLiteral("stroke at (%1, %2)").arg(p.x()).arg(p.y())));
    double worstPlain = 0;
    for (double start : {0.0, 90.0, 170.0, 260.0}) {
        auto tip = DragKnifeTip(compensated, offset, start * std::numbers::pi / 180);
        const auto plainTip = DragKnifeTip(plain, offset, start * std::numbers::pi / 180);
        // The stroke keeps a clear gap from everything the job cuts.
        double nearest = 1e9;
        for (const QPointF& p : tip.front())
            nearest = std::min(nearest, DistanceToLines(outline, p));
        QVERIFY2(nearest >= 1, qPrintable(QStringLiteral("stroke %1 mm from the drawing").arg(nearest)));
        tip.erase(tip.begin());
        for (const auto& line : outline) {
            for (const QPointF& corner : line) {
                const double miss = ClosestApproach(tip, corner);
                QVERIFY2(miss <= 0.05, qPrintable(QStringLiteral("corner (%1, %2) missed by %3 mm, blade at %4°")
                                                      .arg(corner.x())
                                                      .arg(corner.y())
                                                      .arg(miss)
                                                      .arg(start)));
                worstPlain = std::max(worstPlain, ClosestApproach(plainTip, corner));
            }
        }
        // Nor does the tip stray from the drawing between the corners.
        double stray = 0;
        for (const auto& path : tip)
            for (const QPointF& p : path)
                stray = std::max(stray, DistanceToLines(outline, p));
        QVERIFY2(stray <= 0.05, qPrintable(QStringLiteral("%1 mm off the drawing").arg(stray)));
    }
    // The model bites: cut as drawn, the knife rounds the corners off.
    QVERIFY2(worstPlain >= 0.5 * offset, qPrintable(QString::number(worstPlain)));
}

// A test cut against the sheet's edges: the knife's runs past the corners
// and its turns round them stop at the edges, never past them, and what was
// cut short is told. The corners there come out rounded, but the tip keeps
// to the drawing: it is not set down askew to drag a stray cut.
void TestCalibration::knifeKeepsToTheSheetAtItsEdges_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<TPoint>("at"); // the test cut's lower-left corner on a 300 mm sheet, 0.01 mm
    for (const double offset : {0.5, 1.5}) {
        QTest::addRow("%.2f at the lower left corner", offset) << offset << TPoint{0, 0};
        QTest::addRow("%.2f on the left edge", offset) << offset << TPoint{0, 5000};
        QTest::addRow("%.2f at the upper right corner", offset) << offset << TPoint{29000, 29000};
    }
}

void TestCalibration::knifeKeepsToTheSheetAtItsEdges()
{
    QFETCH(double, offset);
    QFETCH(TPoint, at);
    TPLT square;
    MakeTestCutPattern(square);
    Plot plot = Lines(square);
    std::vector<std::vector<QPointF>> outline;
    for (auto& line : plot) {
        outline.emplace_back();
        for (TPoint& p : line) {
            p = {p.X + at.X, p.Y + at.Y};
            outline.back().push_back(QPointF(p.X, p.Y) / 100);
        }
    }
    DeviceSettings s = Sheet(300, 300);
    s.Language = SendAs::HPGL;
    s.Corrections.BladeOffsetMm = offset;
    StringSink sink;
    CutterSurface surface(s, Dpi, sink);
    Print(surface, OrientPage(s), {0, 0}, plot);
    surface.Finish();
    QVERIFY(surface.Share().SomeLeftOut());
    QString error;
    auto holder = DecodePlotterJob(SendAs::HPGL, QByteArray::fromStdString(sink.Bytes()), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (const auto& path : holder)
        for (const QPointF& p : path)
            QVERIFY2(p.x() >= 0 && p.y() >= 0 && p.x() <= 300 && p.y() <= 300,
                     qPrintable(QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y())));
    if (!surface.Share().AlignStrokeLeftOut)
        holder.erase(holder.begin());
    // Past the first path, whose start the blade's unknown heading decides.
    double stray = 0;
    for (double start : {0.0, 90.0, 170.0, 260.0}) {
        const auto tip = DragKnifeTip(holder, offset, start * std::numbers::pi / 180);
        for (size_t i = 1; i < tip.size(); ++i)
            for (const QPointF& p : tip[i])
                stray = std::max(stray, DistanceToLines(outline, p));
    }
    QVERIFY2(stray <= 0.05, qPrintable(QStringLiteral("%1 mm off the drawing").arg(stray)));
}

void TestCalibration::overcutClosesClosedPathsOnly_data()
{
    QTest::addColumn<Plot>("lines");
    QTest::addColumn<double>("extra"); // mm cut past the start
    QTest::newRow("square") << Plot{{{1000, 1000}, {2000, 1000}, {2000, 2000}, {1000, 2000}, {1000, 1000}}} << 1.0;
    // Once round, not round and round: that would ruin the shape.
    QTest::newRow("shorter than the overcut")
        << Plot{{{1000, 1000}, {1020, 1000}, {1020, 1020}, {1000, 1020}, {1000, 1000}}} << 0.8;
    // A plotter unit there and back, as files have them.
    QTest::newRow("a unit there and back") << Plot{{{10000, 10000}, {10003, 10000}, {10000, 10000}}} << 0.05;
    QTest::newRow("open") << Plot{{{1000, 1000}, {2000, 1000}, {2000, 2000}}} << 0.0;
    QTest::newRow("back and forth") << Plot{{{1000, 1000}, {2000, 1000}, {1000, 1000}}} << 1.0;
}

void TestCalibration::overcutClosesClosedPathsOnly()
{
    QFETCH(Plot, lines);
    QFETCH(double, extra);
    const Plot& plot = lines;
    CutterCorrections c;
    c.OvercutMm = 1;
    const auto plain = CutPaths(SendAs::HPGL, {}, plot);
    const auto over = CutPaths(SendAs::HPGL, c, plot);
    QCOMPARE(over.size(), plain.size());
    for (size_t i = 0; i < over.size(); ++i) {
        QCOMPARE(PathLength(over[i]), PathLength(plain[i]) + extra);
        // Along the path's own course: the plain cut is where the overcut
        // one starts.
        for (size_t k = 0; k < plain[i].size(); ++k)
            QCOMPARE(over[i][k], plain[i][k]);
    }
    // The largest offset and overcut keep the job in proportion to the plain
    // one: an arc of at most 14 chords a corner, the overcut once round.
    DeviceSettings most = Sheet(300, 300);
    most.Corrections.BladeOffsetMm = MaxBladeOffsetMm;
    most.Corrections.OvercutMm = MaxOvercutMm;
    const qsizetype plainBytes = CutterJob(Sheet(300, 300), SendAs::HPGL, {0, 0}, plot).size();
    const qsizetype mostBytes = CutterJob(most, SendAs::HPGL, {0, 0}, plot).size();
    QVERIFY2(mostBytes <= 30 * plainBytes, qPrintable(QStringLiteral("%1 of %2 bytes").arg(mostBytes).arg(plainBytes)));
}

void TestCalibration::gridCellsDifferOnlyInForceAndSpeed_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<double>("force"); // the device's own; 0: unset
    QTest::addColumn<double>("speed");
    QTest::addColumn<bool>("grid");     // else the test cut alone
    QTest::addColumn<double>("offset"); // the device's blade offset, which takes each cell through another stage
    for (const auto& [name, language] : Languages) {
        QTest::addRow("%s grid, the device's own unset", name) << language << 0.0 << 0.0 << true << 0.0;
        QTest::addRow("%s grid, the device's own set", name) << language << 20.0 << 4.0 << true << 0.0;
        QTest::addRow("%s test cut, the device's own set", name) << language << 20.0 << 4.0 << false << 0.0;
        QTest::addRow("%s grid with a blade offset", name) << language << 20.0 << 4.0 << true << 0.25;
    }
    QTest::newRow("HPGL grid, the device's speed alone") << SendAs::HPGL << 0.0 << 7.0 << true << 0.0;
}

// Read back: each cell's force and speed just before its first path (CAMM-GL
// has no commands: none at all), the device's own once at the start and
// again after the grid; the cells alike but for their place and tally.
void TestCalibration::gridCellsDifferOnlyInForceAndSpeed()
{
    QFETCH(SendAs, language);
    QFETCH(double, force);
    QFETCH(double, speed);
    QFETCH(bool, grid);
    QFETCH(double, offset);
    const std::vector<ToolSetting> cells = {{5, 3}, {5, 6}, {10, 3}, {10, 6}, {15, 3}, {15, 6}}; // 3 rows, 2 columns
    TPLT plt;
    DeviceSettings s = Sheet(300, 300);
    if (grid)
        MakeGridPattern(plt, cells, 2, s.Corrections.PathTools);
    else
        MakeTestCutPattern(plt);
    s.Corrections.Force = force;
    s.Corrections.Speed = speed;
    s.Corrections.BladeOffsetMm = offset;
    QString error;
    std::vector<DecodedTool> tools;
    const auto paths = DecodePlotterJob(language, CutterJob(s, language, {0, 0}, Lines(plt)), &error, &tools);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The stroke that aligns the blade comes first; the rest is the plain
    // job's, path for path.
    QCOMPARE(paths.size(), size_t(plt.NPolygons()) + (offset > 0 ? 1 : 0));

    std::vector<DecodedTool> expected;
    const auto sent = [&](size_t at, const ToolSetting& t) {
        if (language == SendAs::CAMMGL)
            return;
        if (t.Force > 0)
            expected.push_back({at, 'F', t.Force});
        if (t.Speed > 0)
            expected.push_back({at, 'S', t.Speed});
    };
    sent(0, {force, speed});
    std::vector<size_t> firsts; // each cell's first path
    for (size_t i = 0; grid && i < s.Corrections.PathTools.size(); ++i) {
        if (i == 0 || !(s.Corrections.PathTools[i] == s.Corrections.PathTools[i - 1])) {
            firsts.push_back(i);
            sent(i, s.Corrections.PathTools[i]);
        }
    }
    if (grid)
        sent(paths.size() - (offset > 0 ? 1 : 0), {force, speed});
    if (offset > 0) {
        // The same commands in the same order, each cell's before its own
        // square (the stroke is cut with the first cell's).
        QCOMPARE(tools.size(), expected.size());
        for (size_t i = 0; i < tools.size(); ++i) {
            QCOMPARE(tools[i].What, expected[i].What);
            QCOMPARE(tools[i].Value, expected[i].Value);
            QCOMPARE(tools[i].PathsBefore, expected[i].PathsBefore + (expected[i].PathsBefore > 0 ? 1 : 0));
        }
        return;
    }
    QVERIFY(tools == expected);
    if (!grid)
        return;

    QCOMPARE(firsts.size(), cells.size());
    firsts.push_back(paths.size());
    const double unit = 1 / PlotterUnitsPerMm(language);
    for (size_t k = 0; k < cells.size(); ++k) {
        // Square and triangle as the first cell's, a column 15 mm right, a row 20 mm down.
        const QPointF shift(15.0 * double(k % 2), -20.0 * double(k / 2));
        for (size_t shape = 0; shape < 2; ++shape) {
            const auto& mine = paths[firsts[k] + shape];
            const auto& first = paths[shape];
            QCOMPARE(mine.size(), first.size());
            for (size_t p = 0; p < mine.size(); ++p)
                QVERIFY(QLineF(mine[p] - shift, first[p]).length() <= 1.5 * unit);
        }
        int tally = 0;
        for (size_t i = firsts[k] + 2; i < firsts[k + 1]; ++i)
            tally += PathLength(paths[i]) > 3 ? 5 : 1;
        QCOMPARE(tally, int(k) + 1);
    }

    // A cell the language does not take refuses the whole job.
    if (language != SendAs::CAMMGL) {
        s.Corrections.PathTools.back().Force = 401;
        QVERIFY_THROWS_EXCEPTION(EConvertError, CutterJob(s, language, {0, 0}, Lines(plt)));
    }
}

// Cut in another order, each square keeps its own offset: the knife's path
// runs that far outside it.
void TestCalibration::ladderOffsetsFollowTheirSquaresInAnyOrder()
{
    const double offsets[] = {1.0, 0.2, 0.5};
    Plot plot;
    for (std::int32_t k = 0; k < 3; ++k) { // drawn right to left, from far off
        const std::int32_t x = 9000 - 4000 * k;
        plot.push_back({{x, 1000}, {x + 1000, 1000}, {x + 1000, 2000}, {x, 2000}, {x, 1000}});
    }
    CutterCorrections c;
    c.PathOffsetsMm.assign(std::begin(offsets), std::end(offsets));
    c.Order = CutOrderMode::Optimised;
    auto cut = CutPaths(SendAs::HPGL, c, plot);
    QCOMPARE(cut.size(), size_t(4));
    cut.erase(cut.begin());                // the aligning stroke
    QVERIFY(cut.front().front().x() < 20); // the order did change
    for (const auto& path : cut) {
        double left = 1e9, right = -1e9;
        for (const QPointF& p : path) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
        }
        const auto k = static_cast<size_t>(std::lround((95 - (left + right) / 2) / 40)); // squares at 90, 50, 10 mm
        QCOMPARE(std::round((right - left - 10) / 2 * 40) / 40, offsets[k]);
    }
}

// A cutter whose y axis leans 0.3 degrees and whose axes are 0.6 % long and
// 0.4 % short: one round of the square pattern, measured as a ruler would
// (to 0.05 mm), corrects it; a second round composes with the first. With
// the axes turned or mirrored the same lean is measured the other way round
// on the sheet.
void TestCalibration::skewedCutterComesOutSquare_data()
{
    QTest::addColumn<bool>("rotate90");
    QTest::addColumn<bool>("mirrorX");
    QTest::addColumn<bool>("mirrorY");
    QTest::addColumn<double>("leanDeg");
    QTest::newRow("upright") << false << false << false << 0.3;
    QTest::newRow("upright, leaning the other way") << false << false << false << -0.3;
    QTest::newRow("axes turned") << true << false << false << 0.3;
    QTest::newRow("x mirrored") << false << true << false << 0.3;
    QTest::newRow("y mirrored") << false << false << true << 0.3;
    QTest::newRow("axes turned, y mirrored") << true << false << true << -0.3;
    QTest::newRow("both mirrored") << false << true << true << 0.3;
}

void TestCalibration::skewedCutterComesOutSquare()
{
    QFETCH(bool, rotate90);
    QFETCH(bool, mirrorX);
    QFETCH(bool, mirrorY);
    QFETCH(double, leanDeg);
    const double lean = leanDeg * std::numbers::pi / 180, sx = 1.006, sy = 0.996;
    TPLT plot;
    MakeSquarePattern(plot, SquareWidthMm, SquareHeightMm);
    DeviceSettings s = Sheet(300, 300);
    s.Rotate90 = rotate90;
    s.MirrorX = mirrorX;
    s.MirrorY = mirrorY;
    // What the cutter cuts: the rectangle first, in the order drawn, then
    // the ticks at its corners.
    const auto cutPaths = [&](const CutterCorrections& c) {
        s.Corrections = c;
        QString error;
        auto paths = DecodePlotterJob(SendAs::HPGL, CutterJob(s, SendAs::HPGL, {0, 0}, Lines(plot)), &error);
        for (auto& path : paths)
            for (QPointF& p : path)
                p = {sx * p.x() - sy * p.y() * std::sin(lean), sy * p.y() * std::cos(lean)};
        return paths;
    };
    const auto cutCorners = [&](const CutterCorrections& c) { return cutPaths(c).at(0); };
    const auto ruler = [](QPointF a, QPointF b) {
        return std::round(std::hypot(a.x() - b.x(), a.y() - b.y()) * 20) / 20;
    };
    // As the user goes about it: diagonal A between the corners marked with
    // one tick, B between those with two.
    const auto measure = [&](const CutterCorrections& c) {
        const auto paths = cutPaths(c);
        const std::vector<QPointF>& k = paths.at(0);
        std::vector<QPointF> one, two;
        for (size_t i = 0; i < 4; ++i) {
            const auto ticks = std::count_if(paths.begin() + 1, paths.end(),
                                             [&](const auto& tick) { return QLineF(tick.front(), k[i]).length() < 8; });
            (ticks == 1 ? one : two).push_back(k[i]);
        }
        if (one.size() != 2 || two.size() != 2)
            return SquareMeasurement{};
        return SquareMeasurement{ruler(k[0], k[1]), ruler(k[0], k[3]), ruler(one[0], one[1]), ruler(two[0], two[1])};
    };
    CutterCorrections c;
    const int sign = SheetToCutterSkewSign(rotate90, mirrorX, mirrorY);
    for (int round = 1; round <= 2; ++round) {
        c = WithMeasuredSquare(c, SquareWidthMm, SquareHeightMm, measure(c), sign);
        const std::vector<QPointF> k = cutCorners(c);
        const double a = std::hypot(k[0].x() - k[2].x(), k[0].y() - k[2].y());
        const double b = std::hypot(k[1].x() - k[3].x(), k[1].y() - k[3].y());
        QVERIFY2(
            std::abs(a - b) <= 0.1,
            qPrintable(
                QStringLiteral("round %1: diagonals %2 and %3 mm, skew %4").arg(round).arg(a).arg(b).arg(c.SkewDeg)));
        const double width = std::hypot(k[0].x() - k[1].x(), k[0].y() - k[1].y());
        const double height = std::hypot(k[0].x() - k[3].x(), k[0].y() - k[3].y());
        QVERIFY2(std::abs(width / SquareWidthMm - 1) <= 0.0005 && std::abs(height / SquareHeightMm - 1) <= 0.0005,
                 qPrintable(QStringLiteral("round %1: %2 x %3 mm").arg(round).arg(width).arg(height)));
    }
    // What makes no parallelogram, or leans past what can be corrected, is
    // refused.
    QVERIFY_THROWS_EXCEPTION(EConvertError, WithMeasuredSquare({}, 200, 150, {200, 150, 400, 250}, 1));
    QVERIFY_THROWS_EXCEPTION(EConvertError, WithMeasuredSquare({}, 200, 150, {200, 150, 240, 260}, 1));
}

// At the largest skew, what a leaning cutter cuts from the skewed job lies
// where a square cutter puts the same job without it, to the rounding of
// both: the y axis is lengthened as well as sheared (by 0.18 mm over the
// rectangle's height at 2 degrees), whichever way the axes are turned.
void TestCalibration::skewedJobLandsWhereASquareCutterPutsIt_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<bool>("rotate90");
    QTest::addColumn<bool>("mirrorX");
    QTest::addColumn<bool>("mirrorY");
    QTest::addColumn<double>("skew");
    for (const double skew : {MaxSkewDeg, -MaxSkewDeg}) {
        QTest::addRow("upright, %+.0f degrees", skew) << SendAs::HPGL << false << false << false << skew;
        QTest::addRow("axes turned, %+.0f degrees", skew) << SendAs::HPGL << true << false << false << skew;
        QTest::addRow("y mirrored, %+.0f degrees", skew) << SendAs::HPGL << false << false << true << skew;
        QTest::addRow("DMPL x mirrored, %+.0f degrees", skew) << SendAs::DMPL << false << true << false << skew;
    }
}

void TestCalibration::skewedJobLandsWhereASquareCutterPutsIt()
{
    QFETCH(SendAs, language);
    QFETCH(bool, rotate90);
    QFETCH(bool, mirrorX);
    QFETCH(bool, mirrorY);
    QFETCH(double, skew);
    // A rectangle nearly the sheet's height, and its diagonal.
    const Plot plot = {{{5000, 1000}, {25000, 1000}, {25000, 29000}, {5000, 29000}, {5000, 1000}},
                       {{5000, 1000}, {25000, 29000}}};
    DeviceSettings s = Sheet(300, 300);
    s.Rotate90 = rotate90;
    s.MirrorX = mirrorX;
    s.MirrorY = mirrorY;
    const auto cut = [&](double skewDeg) {
        s.Corrections.SkewDeg = skewDeg;
        QString error;
        const auto paths = DecodePlotterJob(language, CutterJob(s, language, {0, 0}, plot), &error);
        if (!error.isEmpty())
            qWarning() << error;
        return paths;
    };
    const auto square = cut(0);
    const auto leaning = cut(skew);
    QCOMPARE(leaning.size(), square.size());
    const double e = skew * std::numbers::pi / 180, unit = 1 / PlotterUnitsPerMm(language);
    for (size_t i = 0; i < square.size(); ++i) {
        QCOMPARE(leaning[i].size(), square[i].size());
        for (size_t k = 0; k < square[i].size(); ++k) {
            // The command (u, v) on a cutter whose y axis leans by e.
            const QPointF c = leaning[i][k];
            const QPointF knife(c.x() - c.y() * std::sin(e), c.y() * std::cos(e));
            const QPointF miss = knife - square[i][k];
            QVERIFY2(std::abs(miss.x()) <= 1.05 * unit && std::abs(miss.y()) <= 1.05 * unit,
                     qPrintable(QStringLiteral("(%1, %2) cut at (%3, %4)")
                                    .arg(square[i][k].x())
                                    .arg(square[i][k].y())
                                    .arg(knife.x())
                                    .arg(knife.y())));
        }
    }
}

QTEST_GUILESS_MAIN(TestCalibration)
#include "test_calibration.moc"
