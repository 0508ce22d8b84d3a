#include "cutter/DeviceMapping.h"
#include "cutter/PrintableArea.h"
#include "platform/PrinterObject.h"

#include <QtTest>

#include <limits>

Q_DECLARE_METATYPE(TPoint)

class TestSurfaceMapping : public QObject {
    Q_OBJECT
private slots:
    void deviceToLogical_data();
    void deviceToLogical();
    void logicalToDeviceKeepsFractions();
    void invalidMapModeKeepsCurrent();
    void printableArea_data();
    void printableArea();
};

void TestSurfaceMapping::deviceToLogical_data()
{
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("mode");
    QTest::addColumn<TPoint>("viewportOrg");
    QTest::addColumn<TPoint>("windowOrg");
    QTest::addColumn<TPoint>("device");
    QTest::addColumn<TPoint>("logical");

    // The page corner as printing asks for it: y comes out negative.
    QTest::newRow("A4 page at 2540 dpi") << 2540 << MM_HIMETRIC << TPoint{} << TPoint{} << TPoint{20100, 28350}
                                         << TPoint{20100, -28350};
    // 600 dpi: 1 px = 4.2333 units; 1000 px = 4233.33 -> 4233, 3 px = 12.7 -> 13.
    QTest::newRow("600 dpi rounds") << 600 << MM_HIMETRIC << TPoint{} << TPoint{} << TPoint{1000, 3}
                                    << TPoint{4233, -13};
    QTest::newRow("600 dpi negative halves away")
        << 600 << MM_HIMETRIC << TPoint{} << TPoint{} << TPoint{-3, 3} << TPoint{-13, -13};
    QTest::newRow("origins applied") << 2540 << MM_HIMETRIC << TPoint{0, 29700} << TPoint{-9883, -26421} << TPoint{0, 0}
                                     << TPoint{-9883, 29700 - 26421};
    QTest::newRow("text mode is identity plus origins")
        << 600 << MM_TEXT << TPoint{5, 7} << TPoint{100, 200} << TPoint{15, 17} << TPoint{110, 210};
    QTest::newRow("clamped, not wrapped") << 1 << MM_HIMETRIC << TPoint{} << TPoint{}
                                          << TPoint{std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}
                                          << TPoint{std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
}

void TestSurfaceMapping::deviceToLogical()
{
    QFETCH(int, dpi);
    QFETCH(int, mode);
    QFETCH(TPoint, viewportOrg);
    QFETCH(TPoint, windowOrg);
    QFETCH(TPoint, device);
    QFETCH(TPoint, logical);
    DeviceMapping m(dpi, dpi);
    QVERIFY(m.SetMapMode(mode));
    m.SetViewportOrg(viewportOrg.X, viewportOrg.Y);
    m.SetWindowOrg(windowOrg.X, windowOrg.Y);
    QCOMPARE(m.DPtoLP(device), logical);
}

void TestSurfaceMapping::logicalToDeviceKeepsFractions()
{
    DeviceMapping m(600, 600);
    m.SetMapMode(MM_HIMETRIC);
    m.SetViewportOrg(0, 7000);
    m.SetWindowOrg(-100, 50);
    const DevicePointF d = m.LPtoDP({1, 1051});
    // 101 units right = 23.858... px; 1001 units up = 236.456... px above 7000.
    QVERIFY(qAbs(d.X - 101 * 600 / 2540.0) < 1e-9);
    QVERIFY(qAbs(d.Y - (7000 - 1001 * 600 / 2540.0)) < 1e-9);
}

void TestSurfaceMapping::invalidMapModeKeepsCurrent()
{
    DeviceMapping m(2540, 2540);
    QVERIFY(m.SetMapMode(MM_HIMETRIC));
    QVERIFY(!m.SetMapMode(2));
    QVERIFY(!m.SetMapMode(0));
    QCOMPARE(m.MapMode(), MM_HIMETRIC);
}

void TestSurfaceMapping::printableArea_data()
{
    QTest::addColumn<bool>("landscape");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("bottom");
    // A4 with margins L 5, B 7.5, R 4, T 6 mm.
    QTest::newRow("portrait 2540") << false << 2540 << 20100 << 28350 << 5.0 << 7.5;
    QTest::newRow("portrait 600") << false << 600 << 4748 << 6697 << 5.0 << 7.5;
    // Turned anticlockwise: the top margin is now on the left.
    QTest::newRow("landscape 2540") << true << 2540 << 28350 << 20100 << 6.0 << 5.0;
}

void TestSurfaceMapping::printableArea()
{
    QFETCH(bool, landscape);
    QFETCH(int, dpi);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, left);
    QFETCH(double, bottom);
    DeviceSettings s;
    s.PaperWidthMm = 210;
    s.PaperHeightMm = 297;
    s.MarginLeftMm = 5;
    s.MarginBottomMm = 7.5;
    s.MarginRightMm = 4;
    s.MarginTopMm = 6;
    s.Landscape = landscape;
    const OrientedPage p = OrientPage(s);
    QCOMPARE(PrintableWidthPx(p, dpi), width);
    QCOMPARE(PrintableHeightPx(p, dpi), height);
    QCOMPARE(p.MarginLeftMm, left);
    QCOMPARE(p.MarginBottomMm, bottom);
}

QTEST_APPLESS_MAIN(TestSurfaceMapping)
#include "test_surface_mapping.moc"
