// The exact page size written into Qt's PDF: the box itself, every offset of
// the cross-reference table after the edit, and files of any other shape left
// exactly as they were; and the cutter languages cut every point where the
// PDF page puts it, to half a plotter unit.

#include "platform/pdf/PdfPageBox.h"
#include "platform/pdf/PdfSurface.h"
#include "tests/support/PdfStrokes.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/SurfaceDrawing.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

constexpr double PtPerMm = 72.0 / 25.4;

// A page as PdfSurface has Qt write it: sized in mm, one hairline drawn.
QByteArray QtPdf(double widthMm, double heightMm)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        const QPageSize size(QSizeF(widthMm, heightMm), QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
        writer.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter));
        QPainter painter(&writer);
        painter.drawLine(QPointF(10, 10), QPointF(100, 50));
    }
    return buffer.data();
}

// A PDF with one classic xref over the given objects (numbered from 1).
QByteArray BuildPdf(const QList<QByteArray>& objects, const QByteArray& trailerExtra = {},
                    const QByteArray& eol = " \n")
{
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f" + eol;
    for (qsizetype o : offsets)
        pdf += QByteArray::number(o).rightJustified(10, '0') + " 00000 n" + eol;
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R" + trailerExtra
           + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

const QByteArray Catalog = "<< /Type /Catalog /Pages 2 0 R >>";
const QByteArray OnePageTree = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
const QByteArray Page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>";

// Empty when startxref leads to an xref table whose every in-use entry
// points at its own "n g obj"; otherwise what is wrong.
QString XrefProblem(const QByteArray& pdf)
{
    const auto tail =
        QRegularExpression(QStringLiteral("startxref\\s+(\\d+)\\s+%%EOF\\s*$")).match(QString::fromLatin1(pdf));
    if (!tail.hasMatch())
        return QStringLiteral("no startxref at the end");
    const qsizetype at = tail.captured(1).toLongLong();
    const auto head =
        QRegularExpression(QStringLiteral("^xref\\s+(\\d+) (\\d+)\\s+")).match(QString::fromLatin1(pdf.mid(at, 40)));
    if (!head.hasMatch())
        return QStringLiteral("startxref %1 is not at an xref table").arg(at);
    const int first = head.captured(1).toInt();
    const int count = head.captured(2).toInt();
    for (int k = 0; k < count; ++k) {
        const QByteArray entry = pdf.mid(at + head.capturedEnd() + 20 * k, 20);
        if (entry.size() != 20 || entry[17] == 'f')
            continue;
        const qsizetype offset = entry.left(10).toLongLong();
        const QByteArray obj =
            QByteArray::number(first + k) + ' ' + QByteArray::number(entry.mid(11, 5).toInt()) + " obj";
        if (pdf.mid(offset, obj.size()) != obj)
            return QStringLiteral("entry %1 points at \"%2\"")
                .arg(first + k)
                .arg(QString::fromLatin1(pdf.mid(offset, 12)));
    }
    return {};
}

QByteArray Mutated(QByteArray pdf, const QByteArray& from, const QByteArray& to)
{
    return pdf.replace(from, to);
}

QByteArray WithStartxref(QByteArray pdf, qsizetype value)
{
    const qsizetype at = pdf.lastIndexOf("startxref\n") + 10;
    return pdf.replace(at, pdf.indexOf('\n', at) - at, QByteArray::number(value));
}

} // namespace

class TestPdfPageBox : public QObject {
    Q_OBJECT
private slots:
    void writesExactBox_data();
    void writesExactBox();
    void popplerReadsTheRewrittenFile();
    void leavesOtherShapesAlone_data();
    void leavesOtherShapesAlone();
    void landsWhereThePdfDoes_data();
    void landsWhereThePdfDoes();
    void keepsWhatTheCutterKeeps_data();
    void keepsWhatTheCutterKeeps();
};

void TestPdfPageBox::writesExactBox_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<double>("widthPt");
    QTest::addColumn<double>("heightPt");
    QTest::addColumn<QString>("box");

    QTest::newRow("A4: longer box") << QtPdf(210, 297) << 210 * PtPerMm << 297 * PtPerMm
                                    << QStringLiteral("[0 0 595.276 841.890]");
    QTest::newRow("Letter: whole points, shorter box")
        << QtPdf(215.9, 279.4) << 215.9 * PtPerMm << 279.4 * PtPerMm << QStringLiteral("[0 0 612.000 792.000]");
    QTest::newRow("A4 landscape") << QtPdf(297, 210) << 297 * PtPerMm << 210 * PtPerMm
                                  << QStringLiteral("[0 0 841.890 595.276]");
    // Padded so that the xref table starts at 9999 and gains a digit.
    const qsizetype unpadded = BuildPdf({Catalog, OnePageTree, Page, {}}).indexOf("\nxref\n") + 1;
    const QByteArray padded = BuildPdf({Catalog, OnePageTree, Page, QByteArray(9999 - unpadded, ' ')});
    QVERIFY(padded.contains("startxref\n9999\n"));
    QTest::newRow("startxref grows a digit")
        << padded << 595.2756 << 841.8898 << QStringLiteral("[0 0 595.276 841.890]");
    QTest::newRow("CR LF entries") << BuildPdf({Catalog, OnePageTree, Page}, {}, "\r\n") << 100.0 << 200.0
                                   << QStringLiteral("[0 0 100.000 200.000]");
}

void TestPdfPageBox::writesExactBox()
{
    QFETCH(QByteArray, pdf);
    QFETCH(double, widthPt);
    QFETCH(double, heightPt);
    QFETCH(QString, box);
    QCOMPARE(XrefProblem(pdf), QString());

    const QByteArray out = SetMediaBox(pdf, widthPt, heightPt);
    QVERIFY(out.contains("/MediaBox " + box.toLatin1()));
    QCOMPARE(XrefProblem(out), QString());
    const PdfContent read = ReadPdfStrokes(out);
    QCOMPARE(read.Pages.size(), 1);
    const QVector<double> got = read.Pages.first().MediaBox;
    QCOMPARE(got.size(), 4);
    QVERIFY(std::abs(got[2] - widthPt) / PtPerMm < 0.001);
    QVERIFY(std::abs(got[3] - heightPt) / PtPerMm < 0.001);
    // Every object but the page's box is as it was.
    const qsizetype at = pdf.indexOf("/MediaBox");
    QCOMPARE(out.left(at), pdf.left(at));
    const qsizetype inEnd = pdf.indexOf(']', at) + 1, outEnd = out.indexOf(']', at) + 1;
    const qsizetype inXref = pdf.lastIndexOf("\nxref\n"), outXref = out.lastIndexOf("\nxref\n");
    QCOMPARE(out.mid(outEnd, outXref - outEnd), pdf.mid(inEnd, inXref - inEnd));
}

void TestPdfPageBox::popplerReadsTheRewrittenFile()
{
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        QSKIP("pdfinfo (poppler-utils) is not installed");
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(SetMediaBox(QtPdf(210, 297), 210 * PtPerMm, 297 * PtPerMm));
    file.close();
    QProcess p;
    p.start(pdfinfo, {QStringLiteral("-box"), file.fileName()});
    QVERIFY(p.waitForFinished());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    // Poppler repairs a broken xref silently except for these complaints.
    QVERIFY2(p.exitCode() == 0 && err.isEmpty(), qPrintable(err));
    QVERIFY(QString::fromLocal8Bit(p.readAllStandardOutput())
                .contains(QRegularExpression(QStringLiteral("MediaBox:\\s+0.00\\s+0.00\\s+595.28\\s+841.89"))));
}

void TestPdfPageBox::leavesOtherShapesAlone_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<double>("widthPt");

    const QByteArray qt = QtPdf(210, 297);
    const double a4 = 210 * PtPerMm;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("zero width") << qt << 0.0;
    QTest::newRow("negative width") << qt << -a4;
    QTest::newRow("NaN width") << qt << nan;
    QTest::newRow("infinite width") << qt << inf;
    QTest::newRow("not a PDF") << QByteArray("/MediaBox [0 0 595 842]") << a4;
    QTest::newRow("empty") << QByteArray() << a4;
    QTest::newRow("truncated") << qt.left(qt.size() - 7) << a4;
    QTest::newRow("no box") << Mutated(qt, "/MediaBox", "/TrimBox ") << a4;
    QTest::newRow("box away from the origin") << Mutated(qt, "/MediaBox [0 0 ", "/MediaBox [1 0 ") << a4;
    QTest::newRow("box of two numbers") << Mutated(qt, "/MediaBox [0 0 ", "/MediaBox [0 0]") << a4;
    QTest::newRow("unclosed box") << Mutated(qt, "/MediaBox [", "/MediaBox (") << a4;
    QTest::newRow("xref entry off by one") << Mutated(qt, "0000000015 00000 n", "0000000016 00000 n") << a4;
    QTest::newRow("startxref not at the table") << Mutated(qt, "\nxref\n", "\nxrex\n") << a4;
    QTest::newRow("entry of the wrong width") << Mutated(qt, "65535 f \n", "65535 f\n ") << a4;

    QTest::newRow("two pages") << BuildPdf({Catalog, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", Page, Page})
                               << a4;
    QTest::newRow("two pages, one box") << BuildPdf(
        {Catalog, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", Page, "<< /Type /Page /Parent 2 0 R >>"})
                                        << a4;
    QTest::newRow("box inherited from the page tree")
        << BuildPdf({Catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 595 842] >>",
                     "<< /Type /Page /Parent 2 0 R >>"})
        << a4;
    QTest::newRow("incremental update") << BuildPdf({Catalog, OnePageTree, Page}, " /Prev 9") << a4;
    const QByteArray plain = BuildPdf({Catalog, OnePageTree, Page});
    QTest::newRow("startxref at an object (xref stream)") << WithStartxref(plain, plain.indexOf("3 0 obj")) << a4;
    QTest::newRow("startxref past the end") << WithStartxref(plain, 99999) << a4;
    QByteArray twoTails = BuildPdf({Catalog, OnePageTree, Page});
    twoTails += twoTails.mid(twoTails.indexOf("startxref"));
    QTest::newRow("two startxref") << twoTails << a4;
}

void TestPdfPageBox::leavesOtherShapesAlone()
{
    QFETCH(QByteArray, pdf);
    QFETCH(double, widthPt);
    QCOMPARE(SetMediaBox(pdf, widthPt, 841.89), pdf);
}

void TestPdfPageBox::landsWhereThePdfDoes_data()
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
        // The driver takes the scale correction too, about the same corner.
        DeviceSettings scaled = Sheet(210, 297, 5, 7.5, 4, 6);
        scaled.Corrections.ScaleXPercent = 80;
        scaled.Corrections.ScaleYPercent = 125;
        QTest::addRow("%s A4 scaled", name) << language << scaled << TPoint{-4942, -11571};
    }
}

void TestPdfPageBox::landsWhereThePdfDoes()
{
    QFETCH(SendAs, language);
    QFETCH(DeviceSettings, sheet);
    QFETCH(TPoint, origin);
    const Plot plot = {
        {{0, 0}, {11117, 0}, {11117, 3279}, {0, 3279}, {0, 0}}, {{42, 42}}, {{123, 457}, {-801, 2999}, {5555, -1}}};

    PdfSurface pdf(sheet, Dpi, std::string());
    Print(pdf, OrientPage(sheet), origin, plot);
    const PdfContent expected = ReadPdfStrokes(QByteArray::fromStdString(pdf.Finish()));
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

// The share of a plot on the sheet, which decides whether a job is sent,
// is the same through the driver as in a cutter's language.
void TestPdfPageBox::keepsWhatTheCutterKeeps_data()
{
    QTest::addColumn<Plot>("plot"); // 0.01 mm from the A4 sheet's lower-left corner
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("kept");
    QTest::newRow("half past the left edge") << Plot{{{-1000, 500}, {1000, 500}}} << 20.0 << 10.0;
    QTest::newRow("along the edges") << Plot{{{0, 0}, {21000, 0}, {21000, 29700}}} << 507.0 << 507.0;
    QTest::newRow("through the corner only") << Plot{{{-1000, 1000}, {1000, -1000}}} << std::hypot(20.0, 20.0) << 0.0;
    QTest::newRow("above, then down across the top")
        << Plot{{{0, 40000}, {10000, 40000}}, {{5000, 40000}, {5000, 29000}}} << 210.0 << 7.0;
}

void TestPdfPageBox::keepsWhatTheCutterKeeps()
{
    QFETCH(Plot, plot);
    QFETCH(double, total);
    QFETCH(double, kept);
    DeviceSettings a4 = Sheet(210, 297);
    a4.Language = SendAs::HPGL;
    PdfSurface pdf(a4, Dpi, std::string());
    Print(pdf, OrientPage(a4), {0, 0}, plot);
    StringSink sink;
    CutterSurface cutter(a4, Dpi, sink);
    Print(cutter, OrientPage(a4), {0, 0}, plot);
    for (const SheetShare& share : {pdf.Share(), cutter.Share()}) {
        QVERIFY2(qAbs(share.TotalMm - total) < 1e-9 && qAbs(share.KeptMm - kept) < 1e-9,
                 qPrintable(QStringLiteral("%1 of %2 mm kept").arg(share.KeptMm).arg(share.TotalMm)));
    }
}

QTEST_GUILESS_MAIN(TestPdfPageBox)
#include "test_pdf_page_box.moc"
