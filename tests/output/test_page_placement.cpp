#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "plot/UPLT.h"
#include "tests/support/RecordingPrinter.h"

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
    QTest::addColumn<int>("x0");
    QTest::addColumn<int>("y0");

    // The sample on a full A4 page (W 21000, H -29700).
    QTest::newRow("A4 bottom left") << Sample << 21000 << -29700 << 0 << 0 << 0;
    QTest::newRow("A4 bottom right") << Sample << 21000 << -29700 << 1 << -9883 << 0;
    QTest::newRow("A4 top left") << Sample << 21000 << -29700 << 2 << 0 << -26421;
    QTest::newRow("A4 top right") << Sample << 21000 << -29700 << 3 << -9883 << -26421;
    QTest::newRow("A4 middle bottom") << Sample << 21000 << -29700 << 4 << -4942 << 0;
    QTest::newRow("A4 middle top") << Sample << 21000 << -29700 << 5 << -4942 << -26421;
    QTest::newRow("A4 middle left") << Sample << 21000 << -29700 << 6 << 0 << -11571;
    QTest::newRow("A4 middle right") << Sample << 21000 << -29700 << 7 << -9883 << -11571;
    QTest::newRow("A4 centered") << Sample << 21000 << -29700 << 8 << -4942 << -11571;

    // Odd negative halves truncate toward zero: -29701 div 2 = -14850.
    QTest::newRow("odd H middle left") << Sample << 21000 << -29701 << 6 << 0 << 3279 - 14850;
    QTest::newRow("odd H centered") << Sample << 21001 << -29701 << 8 << 5558 - 10500 << 3279 - 14850;
    // A plot not starting at 0: middle uses L and the half width; Centered
    // keeps using R div 2 (which centres only plots with L = 0).
    QTest::newRow("offset middle bottom")
        << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 4 << 1000 - 5000 + 1000 << -200;
    QTest::newRow("offset centered") << TRect{1000, 500, 3001, -200} << 10000 << -5000 << 8 << 1500 - 5000
                                     << 500 - 2500;
    QTest::newRow("negative R centered") << TRect{-3001, 10, -7, -10} << 10000 << -5000 << 8 << -3 - 5000 << 10 - 2500;

    // Extreme inputs stay defined.
    // Results are those of 32-bit wrapping sums. The empty plot's bound:
    // R - L wraps to 2, so the middle X is L - W div 2 + 1.
    QTest::newRow("empty middle top") << Empty << 21000 << -29700 << 5 << 2147473148 << 2147453949;
    QTest::newRow("empty bottom right") << Empty << 21000 << -29700 << 1 << 2147462649 << Max;
    QTest::newRow("empty centered") << Empty << 21000 << -29700 << 8 << -1073752323 << 2147468799;
    // T + H below INT32_MIN wraps around to the top of the range.
    QTest::newRow("top wraps") << TRect{0, Min + 5, 0, Min} << 0 << -10 << 2 << 0 << Max - 4;
    // R - W above INT32_MAX wraps to the bottom.
    QTest::newRow("right wraps") << TRect{0, 0, Max, 0} << -1 << 0 << 1 << Min << 0;
    // Halving INT32_MIN and a width that wraps to -1.
    QTest::newRow("all extremes middle") << TRect{Min, Max, Max, Min} << Min << Min << 4 << -1073741824 << Min;
}

void TestPagePlacement::origin()
{
    QFETCH(TRect, bound);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, index);
    QFETCH(int, x0);
    QFETCH(int, y0);
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
        got = e.Message();
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
