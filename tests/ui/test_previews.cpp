#include <QtTest>

#include <QImage>

// The position previews are drawn from the sample and the real placement;
// check they put the lettering where the position says, y the right way up.
class TestPreviews : public QObject {
    Q_OBJECT
private slots:
    void letteringWherePositionPutsIt_data();
    void letteringWherePositionPutsIt();
};

namespace {

constexpr int Sheet = 166;           // the sheet's height in the picture
constexpr double SheetWidth = 117.4; // A4 at that height

QRect Ink(const QImage& image, int scale = 1)
{
    QRect box;
    for (int y = 0; y < Sheet * scale; ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 64)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

void TestPreviews::letteringWherePositionPutsIt_data()
{
    // Expected edges in pixels; -1: not constrained. The lettering is 62 x 18.
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("right");
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("bottom");
    const double centreLeft = SheetWidth / 2 - 31;
    QTest::newRow("0 bottom left") << 0 << 0.0 << -1.0 << -1.0 << double(Sheet);
    QTest::newRow("1 bottom right") << 1 << -1.0 << SheetWidth << -1.0 << double(Sheet);
    QTest::newRow("2 top left") << 2 << 0.0 << -1.0 << 0.0 << -1.0;
    QTest::newRow("3 top right") << 3 << -1.0 << SheetWidth << 0.0 << -1.0;
    QTest::newRow("4 middle bottom") << 4 << centreLeft << -1.0 << -1.0 << double(Sheet);
    QTest::newRow("5 middle top") << 5 << centreLeft << -1.0 << 0.0 << -1.0;
    // These three hang from the centre line: their top edge is on it.
    QTest::newRow("6 middle left") << 6 << 0.0 << -1.0 << Sheet / 2.0 << -1.0;
    QTest::newRow("7 middle right") << 7 << -1.0 << SheetWidth << Sheet / 2.0 << -1.0;
    QTest::newRow("8 centered") << 8 << centreLeft << -1.0 << Sheet / 2.0 << -1.0;
}

void TestPreviews::letteringWherePositionPutsIt()
{
    QFETCH(int, index);
    QFETCH(double, left);
    QFETCH(double, right);
    QFETCH(double, top);
    QFETCH(double, bottom);
    const QImage image =
        QImage(QStringLiteral(":/pictures/preview-%1.png").arg(index)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(120, 170));

    const QRect ink = Ink(image);
    // Dots sit on the circles' centres, so the ink stops short of the plot's
    // bound by about a pixel; allow three.
    const double slack = 3.0;
    QVERIFY2(qAbs(ink.width() - 62) <= slack && qAbs(ink.height() - 18) <= slack,
             qPrintable(QStringLiteral("ink %1 x %2").arg(ink.width()).arg(ink.height())));
    if (left >= 0)
        QVERIFY2(qAbs(ink.left() - left) <= slack, qPrintable(QString::number(ink.left())));
    if (right >= 0)
        QVERIFY2(qAbs(ink.right() + 1 - right) <= slack, qPrintable(QString::number(ink.right())));
    if (top >= 0)
        QVERIFY2(qAbs(ink.top() - top) <= slack, qPrintable(QString::number(ink.top())));
    if (bottom >= 0)
        QVERIFY2(qAbs(ink.bottom() + 1 - bottom) <= slack, qPrintable(QString::number(ink.bottom())));

    // The sheet's shadow: four rows along the bottom from x 6, nothing left of it.
    for (int y = 166; y < 170; ++y) {
        QCOMPARE(qAlpha(image.pixel(5, y)), 0);
        for (int x = 6; x < 120; ++x)
            QCOMPARE(image.pixel(x, y), qRgb(173, 170, 156));
    }
    // Everything else is transparent, so the group box shows through.
    QCOMPARE(qAlpha(image.pixel(119, 0)), 0);

    // Dense screens: the same picture drawn at twice the pixels, not moved.
    const QImage dense =
        QImage(QStringLiteral(":/pictures/preview-%1@2x.png").arg(index)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(dense.size(), image.size() * 2);
    const QRect denseInk = Ink(dense, 2);
    for (const auto& [edge, twice] : {std::pair{ink.left() * 2, denseInk.left()},
                                      {(ink.right() + 1) * 2, denseInk.right() + 1},
                                      {ink.top() * 2, denseInk.top()},
                                      {(ink.bottom() + 1) * 2, denseInk.bottom() + 1}})
        QVERIFY2(qAbs(edge - twice) <= 2, qPrintable(QStringLiteral("%1 at 2x, %2 at 1x").arg(twice).arg(edge)));
}

QTEST_MAIN(TestPreviews)
#include "test_previews.moc"
