// Jobs in the cutters' own languages: every point where the PDF page puts it,
// to half a plotter unit; the exact bytes of small jobs; the cutter's axes;
// a sink that fails; and the test decoder on hand-written jobs.

#include "common/Exceptions.h"
#include "platform/CutterSurface.h"
#include "platform/cups/PdfSurface.h"
#include "tests/support/PdfStrokes.h"
#include "tests/support/PlotterDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

#include <vector>

Q_DECLARE_METATYPE(SendAs)
Q_DECLARE_METATYPE(TPoint)
Q_DECLARE_METATYPE(DeviceSettings)
using Plot = std::vector<std::vector<TPoint>>;
Q_DECLARE_METATYPE(Plot)

namespace {

constexpr int Dpi = 2540;

DeviceSettings Sheet(double w, double h, double l = 0, double b = 0, double r = 0, double t = 0, bool landscape = false)
{
    DeviceSettings s;
    s.PaperWidthMm = w;
    s.PaperHeightMm = h;
    s.MarginLeftMm = l;
    s.MarginBottomMm = b;
    s.MarginRightMm = r;
    s.MarginTopMm = t;
    s.Landscape = landscape;
    return s;
}

// What printing a plot does to its surface, with the given window origin.
void Print(DrawingSurface& surface, const OrientedPage& page, TPoint origin, const Plot& plot)
{
    const int pageH = PrintableHeightPx(page, Dpi);
    surface.SetMapMode(MM_HIMETRIC);
    TPoint corners[2] = {{0, 0}, {PrintableWidthPx(page, Dpi), pageH}};
    surface.DPtoLP(corners, 2);
    surface.SetViewportOrgEx(0, pageH);
    surface.SetWindowOrgEx(origin.X, origin.Y);
    surface.MoveTo(0, 0);
    for (const auto& line : plot)
        surface.Polyline(line.data(), static_cast<int>(line.size()));
}

QByteArray CutterJob(DeviceSettings s, SendAs language, TPoint origin, const Plot& plot)
{
    s.Language = language;
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    CutterSurface surface(s, Dpi, sink);
    Print(surface, OrientPage(s), origin, plot);
    surface.Finish();
    return sink.data();
}

} // namespace

class TestCutterLanguages : public QObject {
    Q_OBJECT
private slots:
    void landsWhereThePdfDoes_data();
    void landsWhereThePdfDoes();
    void smallJobBytes_data();
    void smallJobBytes();
    void cutterAxes_data();
    void cutterAxes();
    void failingSinkIsAnError();
    void decoderReadsWhatTheLanguagesAllow_data();
    void decoderReadsWhatTheLanguagesAllow();
};

void TestCutterLanguages::landsWhereThePdfDoes_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<DeviceSettings>("sheet");
    QTest::addColumn<TPoint>("origin");
    const std::pair<const char*, SendAs> languages[] = {
        {"HPGL", SendAs::HPGL}, {"DMPL", SendAs::DMPL}, {"GPGL", SendAs::GPGL}, {"CAMMGL", SendAs::CAMMGL}};
    for (const auto& [name, language] : languages) {
        QTest::addRow("%s A4 margins centred", name)
            << language << Sheet(210, 297, 5, 7.5, 4, 6) << TPoint{-4942, -11571};
        QTest::addRow("%s Letter landscape", name)
            << language << Sheet(215.9, 279.4, 6, 5, 3, 8, true) << TPoint{-3000, -4000};
    }
}

void TestCutterLanguages::landsWhereThePdfDoes()
{
    QFETCH(SendAs, language);
    QFETCH(DeviceSettings, sheet);
    QFETCH(TPoint, origin);
    const Plot plot = {
        {{0, 0}, {11117, 0}, {11117, 3279}, {0, 3279}, {0, 0}}, {{42, 42}}, {{123, 457}, {-801, 2999}, {5555, -1}}};

    vcups::PdfSurface pdf(sheet, Dpi, QString());
    Print(pdf, OrientPage(sheet), origin, plot);
    const PdfContent expected = ReadPdfStrokes(pdf.Finish());
    QCOMPARE(expected.Pages.size(), 1);

    QString error;
    const auto cuts = DecodePlotterJob(language, CutterJob(sheet, language, origin, plot), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto& strokes = expected.Pages[0].Strokes;
    QCOMPARE(cuts.size(), size_t(strokes.size()));
    // Half a unit, and what the PDF's own number precision adds.
    const double tolerance = 0.5 / PlotterUnitsPerMm(language) + 0.001;
    for (size_t i = 0; i < cuts.size(); ++i) {
        QCOMPARE(cuts[i].size(), size_t(strokes[qsizetype(i)].size()));
        for (size_t k = 0; k < cuts[i].size(); ++k) {
            const QPointF want = strokes[qsizetype(i)][qsizetype(k)] * (25.4 / 72.0);
            const QPointF d = cuts[i][k] - want;
            QVERIFY2(qAbs(d.x()) <= tolerance && qAbs(d.y()) <= tolerance,
                     qPrintable(QStringLiteral("path %1 point %2: (%3, %4) mm, the PDF has (%5, %6)")
                                    .arg(i)
                                    .arg(k)
                                    .arg(cuts[i][k].x())
                                    .arg(cuts[i][k].y())
                                    .arg(want.x())
                                    .arg(want.y())));
        }
    }
}

void TestCutterLanguages::smallJobBytes_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<Plot>("plot"); // logical units from the sheet's lower-left corner
    QTest::addColumn<QByteArray>("bytes");
    // 10 mm right, then 5 mm up; polylines of one and no points cut nothing.
    const Plot hook = {{{7, 7}}, {{0, 0}, {1000, 0}, {1000, 500}}, {}};
    const Plot dots = {{{7, 7}}, {}};
    QTest::newRow("HPGL") << SendAs::HPGL << hook << QByteArray("IN;\nSP1;\nPU0,0;\nPD400,0,400,200;\nPU;\nSP0;\n");
    QTest::newRow("HPGL nothing to cut") << SendAs::HPGL << dots << QByteArray("IN;\nSP1;\nPU;\nSP0;\n");
    // 0.001 inch: 393.70 and 196.85 units.
    QTest::newRow("DMPL") << SendAs::DMPL << hook << QByteArray(";:H A EC1\nU0,0\nD394,0,394,197\nU\nP0\n@\n");
    QTest::newRow("GPGL") << SendAs::GPGL << hook
                          << QByteArray("H\x03M0,0\x03"
                                        "D200,0,200,100\x03M200,100\x03");
    QTest::newRow("CAMMGL") << SendAs::CAMMGL << hook << QByteArray("H\nM0,0\nD400,0,400,200\nM400,200\n");
    QTest::newRow("CAMMGL nothing to cut") << SendAs::CAMMGL << dots << QByteArray("H\n");
    // Across the left edge, down through the foot, back up: only the parts on the sheet.
    QTest::newRow("HPGL clipped at the edges")
        << SendAs::HPGL
        << Plot{{{-1000, 500}, {1000, 500}, {1000, -500}, {2000, -500}, {2000, 500}}, {{-10, -10}, {-20, 30000}}}
        << QByteArray("IN;\nSP1;\nPU0,200;\nPD400,200,400,0;\nPU800,0;\nPD800,200;\nPU;\nSP0;\n");
}

void TestCutterLanguages::smallJobBytes()
{
    QFETCH(SendAs, language);
    QFETCH(Plot, plot);
    QFETCH(QByteArray, bytes);
    QCOMPARE(CutterJob(Sheet(210, 297), language, {0, 0}, plot), bytes);
}

void TestCutterLanguages::cutterAxes_data()
{
    QTest::addColumn<DeviceSettings>("sheet");
    QTest::addColumn<TPoint>("from"); // device pixels of 0.01 mm from the printable area's top-left corner
    QTest::addColumn<TPoint>("to");
    QTest::addColumn<QByteArray>("cut");
    auto with = [](DeviceSettings s, bool rotate, bool mirrorX, bool mirrorY) {
        s.Rotate90 = rotate;
        s.MirrorX = mirrorX;
        s.MirrorY = mirrorY;
        return s;
    };
    // From (10, 107) to (30, 107) mm on A4, 8400 x 11880 units.
    const DeviceSettings a4 = Sheet(210, 297);
    const TPoint from{1000, 19000}, to{3000, 19000};
    QTest::newRow("as on the sheet") << a4 << from << to << QByteArray("PU400,4280;\nPD1200,4280;\n");
    QTest::newRow("rotated: x up the sheet, y from its right edge")
        << with(a4, true, false, false) << from << to << QByteArray("PU4280,8000;\nPD4280,7200;\n");
    QTest::newRow("mirror x") << with(a4, false, true, false) << from << to
                              << QByteArray("PU8000,4280;\nPD7200,4280;\n");
    QTest::newRow("mirror y") << with(a4, false, false, true) << from << to
                              << QByteArray("PU400,7600;\nPD1200,7600;\n");
    QTest::newRow("rotated, both mirrored: three quarter turns")
        << with(a4, true, true, true) << from << to << QByteArray("PU7600,400;\nPD7600,1200;\n");
    // Landscape first: (10, 20) to (30, 20) mm on a sheet 297 wide, 210 high.
    QTest::newRow("landscape rotated") << with(Sheet(210, 297, 0, 0, 0, 0, true), true, false, false) << from << to
                                       << QByteArray("PU800,11480;\nPD800,10680;\n");
    // 0.0625 mm from the left edge and the foot: 2.5 units round up to 3,
    // not down to the even 2; 1.0625 mm is 42.5 units, up to 43.
    QTest::newRow("halves round up") << Sheet(210, 297, 0.0625, 0, 0, 296.9375) << TPoint{0, 0} << TPoint{100, 0}
                                     << QByteArray("PU3,3;\nPD43,3;\n");
}

void TestCutterLanguages::cutterAxes()
{
    QFETCH(DeviceSettings, sheet);
    QFETCH(TPoint, from);
    QFETCH(TPoint, to);
    QFETCH(QByteArray, cut);
    sheet.Language = SendAs::HPGL;
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    CutterSurface surface(sheet, Dpi, sink);
    const TPoint line[] = {from, to};
    surface.Polyline(line, 2);
    surface.Finish();
    QCOMPARE(sink.data(), "IN;\nSP1;\n" + cut + "PU;\nSP0;\n");
}

void TestCutterLanguages::failingSinkIsAnError()
{
    DeviceSettings s = Sheet(210, 297);
    s.Language = SendAs::GPGL;
    const std::vector<TPoint> line = {{0, 0}, {1000, 1000}, {2000, 0}};

    // A full disk shows when the file's own buffer is flushed at the end.
    QFile full(QStringLiteral("/dev/full"));
    QVERIFY(full.open(QIODevice::WriteOnly));
    CutterSurface small(s, Dpi, full);
    small.Polyline(line.data(), 3);
    try {
        small.Finish();
        QFAIL("a full disk was reported as success");
    } catch (const EFileError& e) {
        QCOMPARE(e.Message(), QStringLiteral("Cannot write the cutter job: No space left on device"));
    }

    // A long job goes out while it is drawn, and fails there.
    QFile fullToo(QStringLiteral("/dev/full"));
    QVERIFY(fullToo.open(QIODevice::WriteOnly));
    CutterSurface big(s, Dpi, fullToo);
    QVERIFY_THROWS_EXCEPTION(EFileError, for (int i = 0; i < 100000; ++i) big.Polyline(line.data(), 3));
    QVERIFY_THROWS_EXCEPTION(EFileError, big.Finish());
}

void TestCutterLanguages::decoderReadsWhatTheLanguagesAllow_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QByteArray>("job");
    QTest::addColumn<QString>("result"); // cuts as "x,y x,y|..." in mm, or the error's start
    const QString square = QStringLiteral("0,0 1,0 1,1 0,1");
    QTest::newRow("HPGL lower case, blanks, relative")
        << SendAs::HPGL << QByteArray("in;sp1;pu 0 0;pd 40,0 40 40;pr;pd-40,0;pu;sp0;") << square;
    QTest::newRow("HPGL cut with no pen") << SendAs::HPGL << QByteArray("IN;PU0,0;PD40,0;PU;")
                                          << QStringLiteral("HP-GL: PD with no pen selected at byte 9");
    QTest::newRow("HPGL odd coordinates") << SendAs::HPGL << QByteArray("IN;SP1;PD40;PU;")
                                          << QStringLiteral("HP-GL: an odd number of coordinates at byte 7");
    QTest::newRow("DMPL blanks and commas") << SendAs::DMPL << QByteArray(" ;: EC1,A U 0,0 D 1000,0\r\n0 0, 0 0\n U @ ")
                                            << QStringLiteral("0,0 25.4,0 0,0 0,0");
    QTest::newRow("DMPL without its end") << SendAs::DMPL << QByteArray(";:ECM U0,0 D10,10 U")
                                          << QStringLiteral("DM/PL: the job does not end with \"@\" at byte 19");
    QTest::newRow("GPGL terminators") << SendAs::GPGL
                                      << QByteArray("H\r\nM0,0,D20,0,20,20\x03"
                                                    "D0,20\nM0,20\x03")
                                      << square;
    QTest::newRow("CAMMGL left cutting") << SendAs::CAMMGL << QByteArray("H\nM 0,0\r\nD 40,0\n")
                                         << QStringLiteral("CAMM-GL: the job ends with the tool down at byte 16");
}

void TestCutterLanguages::decoderReadsWhatTheLanguagesAllow()
{
    QFETCH(SendAs, language);
    QFETCH(QByteArray, job);
    QFETCH(QString, result);
    QString error;
    QStringList paths;
    for (const auto& path : DecodePlotterJob(language, job, &error)) {
        QStringList points;
        for (const QPointF& p : path)
            points << QStringLiteral("%1,%2").arg(p.x(), 0, 'g', 6).arg(p.y(), 0, 'g', 6);
        paths << points.join(u' ');
    }
    QCOMPARE(error.isEmpty() ? paths.join(u'|') : error, result);
}

QTEST_GUILESS_MAIN(TestCutterLanguages)
#include "test_cutter_languages.moc"
