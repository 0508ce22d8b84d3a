#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "plot/UPLT.h"
#include "tests/support/RecordingPrinter.h"
#include "tests/support/StdText.h"

#include <QtTest>

#include <limits>

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
};

namespace {
const TRect Sample{0, 3279, 11117, 0};
const TRect Empty = EmptyBound;
constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
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
    // A plot not starting at 0: middle uses L and the half width; Centered
    // keeps using R div 2 (which centres only plots with L = 0).
    QTest::newRow("offset middle bottom")
        << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 4 << qint64(1000 - 5000 + 1000) << qint64(-200);
    QTest::newRow("offset centered") << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 8 << qint64(1500 - 5000)
                                     << qint64(500 - 2500);
    QTest::newRow("negative R centered") << TRect{-3001, 10, -7, -10} << 10000 << -5000 << 8 << qint64(-3 - 5000)
                                         << qint64(10 - 2500);

    // Near the 32-bit limits the sums go past them instead of wrapping. The
    // empty plot's bound (R - L is -2^32 + 2):
    QTest::newRow("empty middle top") << Empty << 21000 << -29700 << 5 << -10500LL << -2147513347LL;
    QTest::newRow("empty bottom right") << Empty << 21000 << -29700 << 1 << -2147504647LL << qint64(Max);
    QTest::newRow("empty centered") << Empty << 21000 << -29700 << 8 << -1073752323LL << -2147498497LL;
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
    const QStringList head = {"GetPrinter",       "SetPrinter",      "BeginDoc",  "SetMapMode 3",
                              "Viewport 0,29700", "Window 0,-26421", "MoveTo 0,0"};
    QTest::newRow("printed") << QStringList() << head + QStringList{"Polyline 3", "Polyline 1", "EndDoc"} << QString();
    QTest::newRow("drawing fails: the job still ends")
        << QStringList{"Polyline"} << head + QStringList{"Polyline 3", "EndDoc"} << "failed at Polyline 3";
    QTest::newRow("ending fails after drawing failed: the drawing failure is told")
        << QStringList{"Polyline", "EndDoc"} << head + QStringList{"Polyline 3", "EndDoc"} << "failed at Polyline 3";
    QTest::newRow("no job started: none ended") << QStringList{"BeginDoc"} << head.mid(0, 3) << "failed at BeginDoc";
}

void TestPagePlacement::jobAlwaysEnded()
{
    QFETCH(QStringList, failAt);
    QFETCH(QStringList, log);
    QFETCH(QString, error);
    RecordingPrinter fake;
    fake.FailAt = failAt;
    ScopedPrinter use(fake);
    TPLT plot;
    plot.AddPolygon();
    for (TPoint p : {TPoint{0, 0}, TPoint{11117, 0}, TPoint{0, 3279}})
        plot.AddPoint(p);
    plot.AddPolygon();
    plot.AddPoint({5, 5});
    QString got;
    try {
        PrintPlot(plot, 2);
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
    QVERIFY_THROWS_EXCEPTION(EPrinter, PrintPlot(TPLT(), 2));
    QVERIFY(fake.Printing()); // the open job is left to its owner
    QVERIFY(!fake.Log.contains(QStringLiteral("EndDoc")));
}

QTEST_APPLESS_MAIN(TestPagePlacement)
#include "test_page_placement.moc"
