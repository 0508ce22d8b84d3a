#include "cutter/PrintableArea.h"
#include "output/Calibration.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/PrintToFile.h"
#include "tests/support/RecordingPrinter.h"
#include "tests/support/StdText.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <numbers>

Q_DECLARE_METATYPE(TRect)

class TestPagePlacement : public QObject {
    Q_OBJECT
private slots:
    void origin_data();
    void origin();
    void noPositionLeavesOriginAlone_data();
    void noPositionLeavesOriginAlone();
    void jobAlwaysEnded_data();
    void jobAlwaysEnded();
    void secondJobRefused();
    void plotFilesKeepTheirUnits_data();
    void plotFilesKeepTheirUnits();
    void nothingCommandedOffTheSheet_data();
    void nothingCommandedOffTheSheet();
};

namespace {
const TRect Sample{0, 3279, 11117, 0};
const TRect Empty = EmptyBound;
constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();

// An HPGL job for the plot at a position on the sheet.
QByteArray HpglJob(const TPLT& plot, const DeviceSettings& sheet, int position, const QString& path)
{
    PrintToFile(plot, sheet, position, path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each cut as its steps in plotter units: "dx,dy dx,dy|...".
QString Steps(const QByteArray& job)
{
    QString error;
    QStringList paths;
    for (const auto& path : DecodePlotterJob(SendAs::HPGL, job, &error)) {
        QStringList steps;
        for (std::size_t i = 1; i < path.size(); ++i)
            steps << QStringLiteral("%1,%2")
                         .arg(std::lround((path[i].x() - path[i - 1].x()) * 40))
                         .arg(std::lround((path[i].y() - path[i - 1].y()) * 40));
        paths << steps.join(u' ');
    }
    return error.isEmpty() ? paths.join(u'|') : error;
}
} // namespace

void TestPagePlacement::origin_data()
{
    QTest::addColumn<TRect>("bound");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("x0");
    QTest::addColumn<qint64>("y0");

    // The sample on a full A4 page (W 21000, H -29700).
    QTest::newRow("A4 bottom left") << Sample << 21000 << -29700 << 0 << qint64(0) << qint64(0);
    QTest::newRow("A4 bottom right") << Sample << 21000 << -29700 << 1 << qint64(-9883) << qint64(0);
    QTest::newRow("A4 top left") << Sample << 21000 << -29700 << 2 << qint64(0) << qint64(-26421);
    QTest::newRow("A4 top right") << Sample << 21000 << -29700 << 3 << qint64(-9883) << qint64(-26421);
    QTest::newRow("A4 middle bottom") << Sample << 21000 << -29700 << 4 << qint64(-4942) << qint64(0);
    QTest::newRow("A4 middle top") << Sample << 21000 << -29700 << 5 << qint64(-4942) << qint64(-26421);
    QTest::newRow("A4 middle left") << Sample << 21000 << -29700 << 6 << qint64(0) << qint64(-11571);
    QTest::newRow("A4 middle right") << Sample << 21000 << -29700 << 7 << qint64(-9883) << qint64(-11571);
    QTest::newRow("A4 centered") << Sample << 21000 << -29700 << 8 << qint64(-4942) << qint64(-11571);

    // Odd negative halves truncate toward zero: -29701 div 2 = -14850.
    QTest::newRow("odd H middle left") << Sample << 21000 << -29701 << 6 << qint64(0) << qint64(3279 - 14850);
    QTest::newRow("odd H centered") << Sample << 21001 << -29701 << 8 << qint64(5558 - 10500) << qint64(3279 - 14850);
    // A plot not starting at 0: middle and Centered use L and the half
    // width, so the plot's own middle is centred (R div 2 would centre only
    // plots with L = 0).
    QTest::newRow("offset middle bottom")
        << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 4 << qint64(1000 - 5000 + 1000) << qint64(-200);
    QTest::newRow("offset centered") << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 8
                                     << qint64(1000 + 1000 - 5000) << qint64(500 - 2500);
    QTest::newRow("negative R centered") << TRect{-3001, 10, -7, -10} << 10000 << -5000 << 8
                                         << qint64(-3001 + 1497 - 5000) << qint64(10 - 2500);

    // Near the 32-bit limits the sums go past them instead of wrapping. The
    // empty plot's bound (R - L is -2^32 + 2):
    QTest::newRow("empty middle top") << Empty << 21000 << -29700 << 5 << -10500LL << -2147513347LL;
    QTest::newRow("empty bottom right") << Empty << 21000 << -29700 << 1 << -2147504647LL << qint64(Max);
    QTest::newRow("empty centered") << Empty << 21000 << -29700 << 8 << -10500LL << -2147498497LL;
    QTest::newRow("top below the range") << TRect{0, Min + 5, 0, Min} << 0 << -10 << 2 << 0LL << -2147483653LL;
    QTest::newRow("right above the range") << TRect{0, 0, Max, 0} << -1 << 0 << 1 << 2147483648LL << 0LL;
    QTest::newRow("all extremes middle") << TRect{Min, Max, Max, Min} << Min << Min << 4 << 1073741823LL << qint64(Min);
}

void TestPagePlacement::origin()
{
    QFETCH(TRect, bound);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, index);
    QFETCH(qint64, x0);
    QFETCH(qint64, y0);
    const auto o = PlacementOrigin(bound, w, h, index);
    QVERIFY(o.has_value());
    QCOMPARE(o->X, x0);
    QCOMPARE(o->Y, y0);

    // A plot in plotter units (2.5 store units): each coordinate moves at
    // most one unit, to within a fifth of a plotter unit of a whole one, and
    // never toward an edge it is placed against.
    const auto u = PlacementOrigin(bound, w, h, index, true);
    QVERIFY(u.has_value());
    const int awayX[] = {-1, 1, -1, 1, 0, 0, -1, 1, 0}, awayY[] = {-1, -1, 1, 1, -1, 1, 0, 0, 0};
    const std::pair<qint64, qint64> moved[] = {{u->X - x0, awayX[index]}, {u->Y - y0, awayY[index]}};
    for (const auto& [by, way] : moved) {
        QVERIFY(by >= -1 && by <= 1);
        QVERIFY(way == 0 || by == 0 || by == way);
    }
    for (const qint64 v : {u->X, u->Y})
        QVERIFY2((v % 5 + 5) % 5 != 1 && (v % 5 + 5) % 5 != 4, qPrintable(QString::number(v)));
}

void TestPagePlacement::noPositionLeavesOriginAlone_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("no selection") << -1;
    QTest::newRow("past the list") << 9;
    QTest::newRow("int max") << std::numeric_limits<int>::max();
    QTest::newRow("int min") << std::numeric_limits<int>::min();
}

void TestPagePlacement::noPositionLeavesOriginAlone()
{
    QFETCH(int, index);
    QVERIFY(!PlacementOrigin(Sample, 21000, -29700, index).has_value());
}

void TestPagePlacement::jobAlwaysEnded_data()
{
    QTest::addColumn<QStringList>("failAt");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("error");
    const QStringList head = {"BeginJob", "SetMapMode 3", "Viewport 0,29700", "Window 0,-26421", "MoveTo 0,0"};
    QTest::newRow("printed") << QStringList() << head + QStringList{"Polyline 3", "Polyline 1", "EndDoc"} << QString();
    QTest::newRow("drawing fails: the job still ends")
        << QStringList{"Polyline"} << head + QStringList{"Polyline 3", "EndDoc"} << "failed at Polyline 3";
    QTest::newRow("ending fails after drawing failed: the drawing failure is told")
        << QStringList{"Polyline", "EndDoc"} << head + QStringList{"Polyline 3", "EndDoc"} << "failed at Polyline 3";
    QTest::newRow("no job started: none ended") << QStringList{"BeginJob"} << head.mid(0, 1) << "failed at BeginJob";
}

void TestPagePlacement::jobAlwaysEnded()
{
    QFETCH(QStringList, failAt);
    QFETCH(QStringList, log);
    QFETCH(QString, error);
    RecordingPrinter fake;
    fake.FailAt = failAt;
    fake.Handed = {"Fake", 7};
    ScopedPrinter use(fake);
    TPLT plot;
    plot.AddPolygon();
    for (TPoint p : {TPoint{0, 0}, TPoint{11117, 0}, TPoint{0, 3279}})
        plot.AddPoint(p);
    plot.AddPolygon();
    plot.AddPoint({5, 5});
    QString got;
    try {
        // The job is told back as ending it gave it.
        QVERIFY(PrintPlot(plot, {{}, 2}).Job == fake.Handed);
    } catch (const Exception& e) {
        got = QStr(e.Message());
    }
    QCOMPARE(got, error);
    QCOMPARE(fake.Log, log);
    QVERIFY(!fake.Printing());
}

void TestPagePlacement::secondJobRefused()
{
    RecordingPrinter fake;
    ScopedPrinter use(fake);
    fake.JobOpen = true;
    QVERIFY_THROWS_EXCEPTION(EPrinter, PrintPlot(TPLT(), {{}, 2}));
    QVERIFY(fake.Printing()); // the open job is left to its owner
    QVERIFY(!fake.Log.contains(QStringLiteral("EndDoc")));
}

// A plot file in plotter units is cut in them at every position: each
// segment keeps its length, and the program's own job, read back and cut
// where it was cut, is the same job.
void TestPagePlacement::plotFilesKeepTheirUnits_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<int>("from"); // the sample's job at this position; -1 for a 15-unit square
    const struct {
        const char* Name;
        double W, H;
    } sheets[] = {{"A4", 210, 297}, {"Letter", 215.9, 279.4}, {"roll", 600, 1000}};
    for (const auto& sheet : sheets)
        for (int from = -1; from < 9; ++from)
            QTest::addRow("%s, %s %d", sheet.Name, from < 0 ? "square" : "sample's job at", from)
                << sheet.W << sheet.H << from;
}

void TestPagePlacement::plotFilesKeepTheirUnits()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(int, from);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.plt"));
    DeviceSettings sheet = CutterSheet("sheet", width, height);
    sheet.Language = SendAs::HPGL;

    QByteArray file = "IN;SP1;PU0,0;PD15,0,15,10,0,10,0,0;PU;";
    if (from >= 0) {
        TPLT sample;
        ReadPlotText(sample, BuiltInSampleLines());
        file = HpglJob(sample, sheet, from, path);
    }
    TPLT plot;
    ReadHpglData(plot, Bytes(file), FileBytes(path));
    const QString steps = Steps(file);
    for (int position = 0; position < 9; ++position) {
        const QByteArray job = HpglJob(plot, sheet, position, path);
        QCOMPARE(Steps(job), steps);
        if (position == from)
            QCOMPARE(job, file);
    }
}

// A skewed cutter with the largest blade offset and overcut: at every
// position each coordinate of the job lies on the sheet as the cutter
// numbers it. Its y axis reaches H / cos(skew) up the sheet: commanded that
// far, the leaning axis puts the knife on the sheet's top edge. What the
// shear or the knife's arcs would have put past the sheet's sides is told.
void TestPagePlacement::nothingCommandedOffTheSheet_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<bool>("square"); // the square pattern, else the sample
    QTest::addColumn<bool>("turned"); // axes turned, y mirrored
    QTest::addColumn<double>("skew");
    const std::pair<const char*, SendAs> languages[] = {
        {"HPGL", SendAs::HPGL}, {"DMPL", SendAs::DMPL}, {"GPGL", SendAs::GPGL}, {"CAMMGL", SendAs::CAMMGL}};
    for (const double skew : {2.0, -2.0}) {
        for (const auto& [name, language] : languages)
            for (const bool square : {false, true})
                QTest::addRow("%s %s, %+.0f degrees", name, square ? "square" : "sample", skew)
                    << language << square << false << skew;
        QTest::addRow("HPGL sample, axes turned, y mirrored, %+.0f degrees", skew)
            << SendAs::HPGL << false << true << skew;
    }
}

void TestPagePlacement::nothingCommandedOffTheSheet()
{
    QFETCH(SendAs, language);
    QFETCH(bool, square);
    QFETCH(bool, turned);
    QFETCH(double, skew);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job"));
    DeviceSettings sheet = CutterSheet("A4", 210, 297);
    sheet.Language = language;
    sheet.Rotate90 = sheet.MirrorY = turned;
    sheet.Corrections.SkewDeg = skew;
    sheet.Corrections.BladeOffsetMm = 1.5;
    sheet.Corrections.OvercutMm = 5;
    TPLT plot;
    if (square) {
        CalibrationCut cut;
        cut.Pattern = CalibrationPattern::Square;
        std::vector<double> offsets;
        plot = PatternPlot(cut, sheet, offsets);
    } else {
        ReadPlotText(plot, BuiltInSampleLines());
    }
    const double width = turned ? 297 : 210, reach = (turned ? 210 : 297) / std::cos(skew * std::numbers::pi / 180);
    const double half = 0.5 / PlotterUnitsPerMm(language);
    for (int position = 0; position < 9; ++position) {
        const SheetShare share = PrintToFile(plot, sheet, position, path).Share;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        const auto paths = DecodePlotterJob(language, file.readAll(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(paths.size() > 1);
        for (const auto& cut : paths)
            for (const QPointF& p : cut)
                QVERIFY2(p.x() >= 0 && p.y() >= 0 && p.x() <= width + half && p.y() <= reach + half,
                         qPrintable(QStringLiteral("position %1: (%2, %3)").arg(position).arg(p.x()).arg(p.y())));
        // The shear leans the top of the plot toward one side.
        if (!turned && position == (skew > 0 ? TopRight : TopLeft))
            QVERIFY(!LeftOutNotice(share).empty());
    }
}

QTEST_APPLESS_MAIN(TestPagePlacement)
#include "test_page_placement.moc"
