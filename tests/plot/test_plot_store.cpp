#include "plot/UPLT.h"

#include <QtTest>

Q_DECLARE_METATYPE(TRect)

namespace QTest {
template <>
inline char* toString(const TRect& r)
{
    return qstrdup(QByteArray("TRect(L ") + QByteArray::number(r.Left) + " T " + QByteArray::number(r.Top) + " R "
                   + QByteArray::number(r.Right) + " B " + QByteArray::number(r.Bottom) + ")");
}
} // namespace QTest

class TestPlotStore : public QObject {
    Q_OBJECT
private slots:
    void pointsBeforeFirstPolylineAreDropped();
    void polylineWithoutPointsKeepsEmptyBound();
    void singlePointSetsAllFourSides();
    void resetEmptiesEverything();
    void twoPolylinesBounds();
    void extremeCoordinates_data();
    void extremeCoordinates();
    void readPolygonPastEndLeavesResult();
};

void TestPlotStore::pointsBeforeFirstPolylineAreDropped()
{
    TPLT plt;
    plt.AddPoint({5, 7});
    QCOMPARE(plt.NPolygons(), 0);
    QCOMPARE(plt.Bound(), EmptyBound);
    plt.AddPolygon();
    plt.AddPoint({1, 2});
    TPolygon p;
    plt.ReadPolygon(0, p);
    QCOMPARE(p.Points.size(), std::size_t(1));
    QCOMPARE(plt.Bound(), (TRect{1, 2, 1, 2}));
}

void TestPlotStore::polylineWithoutPointsKeepsEmptyBound()
{
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({3, 4});
    plt.AddPolygon();
    QCOMPARE(plt.NPolygons(), 2);
    TPolygon p;
    plt.ReadPolygon(1, p);
    QVERIFY(p.Points.empty());
    QCOMPARE(p.Bound, EmptyBound);
    QCOMPARE(plt.Bound(), (TRect{3, 4, 3, 4}));

    // The polylines around an empty one keep their own points.
    plt.AddPolygon();
    plt.AddPoint({5, 6});
    plt.AddPoint({7, 8});
    plt.ReadPolygon(0, p);
    QCOMPARE(p.Points, (std::vector<TPoint>{{3, 4}}));
    plt.ReadPolygon(1, p);
    QVERIFY(p.Points.empty());
    plt.ReadPolygon(2, p);
    QCOMPARE(p.Points, (std::vector<TPoint>{{5, 6}, {7, 8}}));
    QCOMPARE(p.Bound, (TRect{5, 8, 7, 6}));
}

void TestPlotStore::singlePointSetsAllFourSides()
{
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({-8, 9});
    TPolygon p;
    plt.ReadPolygon(0, p);
    QCOMPARE(p.Bound, (TRect{-8, 9, -8, 9}));
    QCOMPARE(plt.Bound(), (TRect{-8, 9, -8, 9}));
}

void TestPlotStore::resetEmptiesEverything()
{
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({1, 1});
    plt.AddPolygon();
    plt.Reset();
    QCOMPARE(plt.NPolygons(), 0);
    QCOMPARE(plt.Bound(), EmptyBound);
    // A point after Reset but before a new polyline is dropped again.
    plt.AddPoint({2, 2});
    QCOMPARE(plt.Bound(), EmptyBound);
}

void TestPlotStore::twoPolylinesBounds()
{
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({0, 0});
    plt.AddPoint({10, 5});
    plt.AddPolygon();
    plt.AddPoint({-3, 20});
    TPolygon p0, p1;
    plt.ReadPolygon(0, p0);
    plt.ReadPolygon(1, p1);
    QCOMPARE(p0.Bound, (TRect{0, 5, 10, 0}));
    QCOMPARE(p1.Bound, (TRect{-3, 20, -3, 20}));
    QCOMPARE(plt.Bound(), (TRect{-3, 20, 10, 0}));
    QCOMPARE(p0.Points, (std::vector<TPoint>{{0, 0}, {10, 5}}));
}

void TestPlotStore::extremeCoordinates_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<TRect>("bound");
    // Strict comparisons: a point exactly on an empty-rectangle extreme does
    // not move that side, which is why the extreme is -2147483647.
    QTest::newRow("max") << 2147483647 << 2147483647 << TRect{2147483647, 2147483647, 2147483647, 2147483647};
    // INT32_MIN lies below the empty extreme: Top and Right stay put.
    QTest::newRow("min") << int(-2147483647 - 1) << int(-2147483647 - 1)
                         << TRect{-2147483647 - 1, -2147483647, -2147483647, -2147483647 - 1};
    QTest::newRow("-2147483647 leaves Right and Top at the extreme")
        << -2147483647 << -2147483647 << TRect{-2147483647, -2147483647, -2147483647, -2147483647};
}

void TestPlotStore::extremeCoordinates()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(TRect, bound);
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({x, y});
    QCOMPARE(plt.Bound(), bound);
}

void TestPlotStore::readPolygonPastEndLeavesResult()
{
    TPLT plt;
    plt.AddPolygon();
    plt.AddPoint({1, 1});
    TPolygon r{{{9, 9}}, TRect{1, 2, 3, 4}};
    plt.ReadPolygon(1, r);
    plt.ReadPolygon(-1, r);
    QCOMPARE(r.Points, (std::vector<TPoint>{{9, 9}}));
    QCOMPARE(r.Bound, (TRect{1, 2, 3, 4}));
}

QTEST_APPLESS_MAIN(TestPlotStore)
#include "test_plot_store.moc"
