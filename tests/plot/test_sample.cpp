#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/StdText.h"

#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

Q_DECLARE_METATYPE(TRect)

class TestSample : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void readsIntoClosedCircles();
    void textAndFileReadTheSame();
};

void TestSample::layout()
{
    const QStringList lines = QStrings(BuiltInSampleLines());
    QCOMPARE(lines.size(), 920);
    QCOMPARE(lines.first(), QStringLiteral("IN;"));
    QCOMPARE(lines.last(), QStringLiteral("SP0;"));
    // Plain decimal numbers: no sign, no leading zeros, one space, no blanks.
    const QRegularExpression move(QStringLiteral("^P[UD](0|[1-9][0-9]*) (0|[1-9][0-9]*);$"));
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const qsizetype inBlock = (i - 1) % 18;
        if (inBlock == 0)
            QCOMPARE(lines.at(i), QStringLiteral("SP1;"));
        else
            QVERIFY2(move.match(lines.at(i)).hasMatch() && lines.at(i).startsWith(inBlock == 1 ? "PU" : "PD"),
                     qPrintable(lines.at(i)));
    }
    QCOMPARE(lines.at(2), QStringLiteral("PU415 1231;"));
    QCOMPARE(lines.at(3), QStringLiteral("PD410 1254;"));
}

void TestSample::readsIntoClosedCircles()
{
    TPLT store;
    ReadPlotText(store, BuiltInSampleLines());
    QCOMPARE(store.NPolygons(), 51);
    QCOMPARE(store.Bound(), (TRect{0, 3279, 11117, 0}));
    QCOMPARE(store.Polygons().front().Points.front(), (TPoint{1054, 3126}));
    QCOMPARE(store.Polygons().back().Points.front(), (TPoint{11117, 205}));

    for (const TPolygonView& p : store.Polygons()) {
        QCOMPARE(p.Points.size(), std::size_t(17));
        QCOMPARE(p.Points.back(), p.Points.front());
        // Counter-clockwise with y up: positive signed area.
        std::int64_t twiceArea = 0;
        for (std::size_t i = 0; i + 1 < p.Points.size(); ++i)
            twiceArea +=
                std::int64_t(p.Points[i].X) * p.Points[i + 1].Y - std::int64_t(p.Points[i + 1].X) * p.Points[i].Y;
        QVERIFY(twiceArea > 0);
        // Diameter 120 plot units, about 304 logical units.
        QVERIFY(p.Bound.Right - p.Bound.Left >= 303 && p.Bound.Right - p.Bound.Left <= 305);
        QVERIFY(p.Bound.Top - p.Bound.Bottom >= 303 && p.Bound.Top - p.Bound.Bottom <= 305);
    }
}

void TestSample::textAndFileReadTheSame()
{
    const QString text = QStr(BuiltInSampleText());
    QCOMPARE(text.split(u'\n'), QStrings(BuiltInSampleLines()));

    TPLT fromLines, fromData;
    ReadPlotText(fromLines, BuiltInSampleLines());
    ReadPlotData(fromData, StdStr(text), "sample");
    QCOMPARE(fromData.Bound(), fromLines.Bound());
    QCOMPARE(fromData.NPolygons(), fromLines.NPolygons());
    for (std::size_t i = 0; i < fromLines.Polygons().size(); ++i)
        QVERIFY(std::ranges::equal(fromData.Polygons()[i].Points, fromLines.Polygons()[i].Points));
}

QTEST_APPLESS_MAIN(TestSample)
#include "test_sample.moc"
