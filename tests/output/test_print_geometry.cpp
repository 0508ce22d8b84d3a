// Prints through a private CUPS server and checks the PDF the spooler
// received, or the bytes a raw queue passed on to its cutter: where every
// point lands, the sizes, that nothing else is drawn, and that a job the
// server will not take is an error and leaves nothing behind.

#include "common/Exceptions.h"
#include "output/PlotPrinting.h"
#include "platform/DeviceCapabilities.h"
#include "platform/PrinterObject.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/PdfStrokes.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/PrivateCupsServer.h"
#include "tests/support/StdText.h"

#include <QtTest>

#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(SendAs)

namespace {

constexpr double PtToMm = 25.4 / 72.0;

// The test queues' sheets as their PPD describes them, in mm.
struct Sheet {
    const char* Queue;
    double W, H, L, B, R, T;
};
const Sheet A4{"TestCutter", 210.0, 297.0, 5.0, 7.5, 4.0, 6.0};
const Sheet Letter{"LetterCutter", 215.9, 279.4, 6.0, 5.0, 3.0, 8.0};
// A raw queue: the cutter's whole A4 sheet.
const Sheet Raw{"RawCutter", 210.0, 297.0, 0, 0, 0, 0};
const Sheet* const Sheets[] = {&A4, &Letter, &Raw};

enum class Across { Left, Right, Middle };
enum class Down { Bottom, Top, Halfway };

struct Position {
    int Index;
    const char* Name;
    Across X;
    Down Y;
};
const Position Positions[] = {
    {0, "Bottom left", Across::Left, Down::Bottom},     {1, "Bottom right", Across::Right, Down::Bottom},
    {2, "Top left", Across::Left, Down::Top},           {3, "Top right", Across::Right, Down::Top},
    {4, "Middle Bottom", Across::Middle, Down::Bottom}, {5, "Middle Top", Across::Middle, Down::Top},
    {6, "Middle left", Across::Left, Down::Halfway},    {7, "Middle right", Across::Right, Down::Halfway},
    {8, "Centered", Across::Middle, Down::Halfway},
};

// Where the plot's logical (0, 0) belongs on the sheet, in mm from the
// sheet's lower-left corner, from what each position means on the page.
QPointF ExpectedOrigin(const Sheet& s, const TRect& b, const Position& p)
{
    const double printW = s.W - s.L - s.R;
    const double printH = s.H - s.B - s.T;
    double x = 0, y = 0;
    switch (p.X) {
    case Across::Left: x = s.L - b.Left / 100.0; break;
    case Across::Right: x = s.W - s.R - b.Right / 100.0; break;
    case Across::Middle: x = s.L + printW / 2 - (b.Left + b.Right) / 200.0; break;
    }
    switch (p.Y) {
    case Down::Bottom: y = s.B - b.Bottom / 100.0; break;
    case Down::Top: y = s.H - s.T - b.Top / 100.0; break;
    // The top edge, not the middle, sits at half the page height.
    case Down::Halfway: y = s.B + printH / 2 - b.Top / 100.0; break;
    }
    return {x, y};
}

// Whether the job a Cut told back is the one the queue kept (job-<id>.pdf,
// raw-<id>.bin), so the window follows the right job; empty when it is.
QString WrongJob(const PrintRequest& request, const PrintResult& result, const QString& kept)
{
    const HandedJob expected{request.Target.Identity.Device,
                             QFileInfo(kept).completeBaseName().section(u'-', 1).toInt()};
    if (result.Job == expected)
        return QString();
    return QStringLiteral("the Cut told job %1 on \"%2\" back; the queue kept %3")
        .arg(result.Job.Id)
        .arg(QStr(result.Job.Device), QFileInfo(kept).fileName());
}

} // namespace

class TestPrintGeometry : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void devicePapers();
    void samplePlacement_data();
    void samplePlacement();
    void receivedPageIsTheSheet_data();
    void receivedPageIsTheSheet();
    void emptyPlotGivesOneBlankPage();
    void noPositionMeasuresFromLowerLeft();
    void queuedJobNameAndFormat_data();
    void queuedJobNameAndFormat();
    void refusedJobLeavesNoJob_data();
    void refusedJobLeavesNoJob();

private:
    PdfContent PrintAndReadBack(const TPLT& plot, int position);
    int ServerJobCount() const;

    std::unique_ptr<PrivateCupsServer> FServer;
    TPLT FSample;
    double FWorstError = 0;
};

void TestPrintGeometry::initTestCase()
{
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->addQueue(QStringLiteral("LetterCutter"), QStringLiteral("Letter")));
    QVERIFY(FServer->addRawQueue(QStringLiteral("RawCutter")));
    ReadPlotText(FSample, BuiltInSampleLines());
    QCOMPARE(FSample.Bound(), (TRect{0, 3279, 11117, 0}));
}

void TestPrintGeometry::cleanupTestCase()
{
    qInfo("largest point error over all placements: %.5f mm", FWorstError);
    FServer.reset();
}

PdfContent TestPrintGeometry::PrintAndReadBack(const TPLT& plot, int position)
{
    const int before = static_cast<int>(FServer->jobFiles().size());
    const PrintRequest request = ActiveDeviceRequest(position);
    const PrintResult result = PrintPlot(plot, request);
    if (!FServer->waitForJobFiles(before + 1))
        return PdfContent{{}, {}, QStringLiteral("the spooler kept no job")};
    const QString kept = FServer->jobFiles().last();
    if (const QString wrong = WrongJob(request, result, kept); !wrong.isEmpty())
        return PdfContent{{}, {}, wrong};
    return ReadPdfStrokesFile(kept);
}

void TestPrintGeometry::devicePapers()
{
    // The default device is the server's default queue with its default
    // paper; both papers are offered with the PPD's imageable areas.
    DeviceIdentity id;
    DeviceSettings s;
    Printer().GetPrinter(id, s);
    QCOMPARE(QStr(id.Device), QStringLiteral("TestCutter"));
    QCOMPARE(QStr(id.Driver), QStringLiteral("Vellico Test Cutter"));
    QVERIFY(id.Port.starts_with("file:"));
    QCOMPARE(QStr(s.PaperName), QStringLiteral("A4"));
    QCOMPARE(s.ResolutionDpi, 1016);
    const auto papers = SupportedPapers("TestCutter");
    QCOMPARE(papers.size(), size_t{2});
    QCOMPARE(QStr(papers[1].PaperName), QStringLiteral("Letter"));
    QCOMPARE(papers[1].MarginTopMm, 8.0);
    QCOMPARE(papers[1].MarginRightMm, 3.0);
    QCOMPARE(DefaultSettings("LetterCutter"), papers[1]);
    QVERIFY(SupportedPapers("NoSuchQueue").empty());
}

void TestPrintGeometry::samplePlacement_data()
{
    QTest::addColumn<int>("sheet");
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<int>("position");
    const struct {
        const char* Name;
        int Sheet;
        SendAs Language;
    } rows[] = {{"A4", 0, SendAs::Driver},     {"Letter", 1, SendAs::Driver}, {"raw HPGL", 2, SendAs::HPGL},
                {"raw DMPL", 2, SendAs::DMPL}, {"raw GPGL", 2, SendAs::GPGL}, {"raw CAMMGL", 2, SendAs::CAMMGL}};
    for (const auto& row : rows)
        for (const Position& p : Positions)
            QTest::addRow("%s %s", row.Name, p.Name) << row.Sheet << row.Language << p.Index;
}

void TestPrintGeometry::samplePlacement()
{
    QFETCH(int, sheet);
    QFETCH(SendAs, language);
    QFETCH(int, position);
    const Sheet& s = *Sheets[sheet];
    const std::string queue = s.Queue;
    DeviceSettings settings = DefaultSettings(queue);
    if (language != SendAs::Driver) {
        // A raw queue's own default: HPGL on the whole sheet.
        QCOMPARE(settings.Language, SendAs::HPGL);
        QVERIFY(settings.MarginLeftMm == 0 && settings.MarginBottomMm == 0 && settings.MarginRightMm == 0
                && settings.MarginTopMm == 0);
        settings.Language = language;
    }
    Printer().SetPrinter({queue, std::string(), std::string()}, settings);

    // Every cut in mm from the sheet's lower-left corner, and how far a
    // point may be off: the placement truncates to 0.01 mm, a cutter rounds
    // to its own unit.
    std::vector<std::vector<QPointF>> cuts;
    double tolerance = 0.01;
    if (language == SendAs::Driver) {
        const PdfContent pdf = PrintAndReadBack(FSample, position);
        QVERIFY2(pdf.Error.isEmpty(), qPrintable(pdf.Error));
        QCOMPARE(pdf.Pages.size(), 1);
        const PdfPage& page = pdf.Pages.first();
        QVERIFY2(page.OtherPainting.isEmpty(), qPrintable(page.OtherPainting.join(u' ')));
        for (double w : page.LineWidths)
            QCOMPARE(w, 0.0); // hairlines only
        for (const auto& stroke : page.Strokes) {
            cuts.emplace_back();
            for (const QPointF& p : stroke)
                cuts.back().push_back(p * PtToMm);
        }
    } else {
        const int before = static_cast<int>(FServer->rawJobFiles().size());
        const PrintRequest request = ActiveDeviceRequest(position);
        const PrintResult result = PrintPlot(FSample, request);
        QVERIFY2(FServer->waitForRawJobFiles(before + 1, 30000), "the raw queue passed on no job");
        const QString wrong = WrongJob(request, result, FServer->rawJobFiles().last());
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QFile file(FServer->rawJobFiles().last());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        cuts = DecodePlotterJob(language, file.readAll(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        tolerance += 0.5 / PlotterUnitsPerMm(language);
    }
    QCOMPARE(cuts.size(), static_cast<size_t>(FSample.NPolygons()));

    const QPointF origin = ExpectedOrigin(s, FSample.Bound(), Positions[position]);
    double worst = 0;
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (size_t i = 0; i < cuts.size(); ++i) {
        const auto& expected = FSample.Polygons()[i].Points;
        const auto& got = cuts[i];
        QCOMPARE(got.size(), expected.size());
        for (size_t j = 0; j < got.size(); ++j) {
            const double x = got[j].x(), y = got[j].y();
            const double ex = origin.x() + expected[j].X / 100.0;
            const double ey = origin.y() + expected[j].Y / 100.0;
            worst = std::max({worst, std::abs(x - ex), std::abs(y - ey)});
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    }
    FWorstError = std::max(FWorstError, worst);
    QVERIFY2(worst < tolerance, qPrintable(QStringLiteral("a point is %1 mm off").arg(worst)));
    // Each end of a measure may round by half a unit.
    const double sizeTolerance = 0.005 + 2 * (tolerance - 0.01);
    QVERIFY2(std::abs(maxX - minX - 111.17) < sizeTolerance, qPrintable(QString::number(maxX - minX, 'f', 5)));
    QVERIFY2(std::abs(maxY - minY - 32.79) < sizeTolerance, qPrintable(QString::number(maxY - minY, 'f', 5)));
}

void TestPrintGeometry::receivedPageIsTheSheet_data()
{
    QTest::addColumn<int>("sheet");
    QTest::addColumn<bool>("landscape");
    QTest::newRow("A4") << 0 << false;
    QTest::newRow("Letter") << 1 << false;
    QTest::newRow("A4 landscape") << 0 << true;
}

void TestPrintGeometry::receivedPageIsTheSheet()
{
    // Not rounded to whole points: a driver measuring from the top edge or
    // centring the page would move the cut by the difference.
    QFETCH(int, sheet);
    QFETCH(bool, landscape);
    const Sheet& s = sheet == 0 ? A4 : Letter;
    const std::string queue = s.Queue;
    DeviceSettings settings = DefaultSettings(queue);
    settings.Landscape = landscape;
    Printer().SetPrinter({queue, "Vellico Test Cutter", std::string()}, settings);

    const PdfContent pdf = PrintAndReadBack(FSample, 8);
    QVERIFY2(pdf.Error.isEmpty(), qPrintable(pdf.Error));
    QCOMPARE(pdf.Pages.size(), 1);
    const QVector<double> box = pdf.Pages.first().MediaBox;
    QCOMPARE(box.size(), 4);
    const double w = landscape ? s.H : s.W, h = landscape ? s.W : s.H;
    const QString got = QStringLiteral("%1 x %2 pt").arg(box[2], 0, 'f', 3).arg(box[3], 0, 'f', 3);
    QVERIFY2(box[0] == 0 && box[1] == 0, qPrintable(got));
    QVERIFY2(std::abs(box[2] * PtToMm - w) < 0.001 && std::abs(box[3] * PtToMm - h) < 0.001, qPrintable(got));
}

void TestPrintGeometry::emptyPlotGivesOneBlankPage()
{
    Printer().SetPrinter({"TestCutter", {}, {}}, DefaultSettings("TestCutter"));
    TPLT empty;
    const PdfContent pdf = PrintAndReadBack(empty, 2);
    QVERIFY2(pdf.Error.isEmpty(), qPrintable(pdf.Error));
    QCOMPARE(pdf.Pages.size(), 1);
    QVERIFY(pdf.Pages.first().Strokes.isEmpty());
    QVERIFY(pdf.Pages.first().OtherPainting.isEmpty());
}

void TestPrintGeometry::noPositionMeasuresFromLowerLeft()
{
    // Without a position the plot's own coordinates count from the printable
    // area's lower-left corner, and nothing is shrunk to fit: a plot wider than
    // the sheet keeps its size.
    Printer().SetPrinter({"TestCutter", {}, {}}, DefaultSettings("TestCutter"));
    TPLT plot;
    plot.AddPolygon();
    plot.AddPoint({1000, 2000});
    plot.AddPoint({51000, 2000});
    const PdfContent pdf = PrintAndReadBack(plot, -1);
    QVERIFY2(pdf.Error.isEmpty(), qPrintable(pdf.Error));
    QCOMPARE(pdf.Pages.first().Strokes.size(), 1);
    const auto stroke = pdf.Pages.first().Strokes.first();
    QCOMPARE(stroke.size(), 2);
    QVERIFY(std::abs(stroke[0].x() * PtToMm - (A4.L + 10)) < 0.005);
    QVERIFY(std::abs(stroke[0].y() * PtToMm - (A4.B + 20)) < 0.005);
    QVERIFY(std::abs((stroke[1].x() - stroke[0].x()) * PtToMm - 500) < 0.005);
}

void TestPrintGeometry::queuedJobNameAndFormat_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QString>("format");
    QTest::newRow("PDF for the driver") << SendAs::Driver << QStringLiteral("application/pdf");
    // Any other type would be run through the queue's driver.
    QTest::newRow("HPGL on a driver's queue") << SendAs::HPGL << QStringLiteral("application/vnd.cups-raw");
}

void TestPrintGeometry::queuedJobNameAndFormat()
{
    QFETCH(SendAs, language);
    QFETCH(QString, format);
    // Keep the job in the queue so its attributes can be read.
    QVERIFY(FServer->disableQueue(QStringLiteral("TestCutter")));
    DeviceSettings settings = DefaultSettings("TestCutter");
    settings.Language = language;
    Printer().SetPrinter({"TestCutter", {}, {}}, settings);
    PrintPlot(FSample, ActiveDeviceRequest(2));
    QString out, attributes;
    QVERIFY(FServer->run(QStringLiteral("lpq"), {QStringLiteral("-P"), QStringLiteral("TestCutter")}, &out));
    // "1st  root  <id>  <name>  <size> bytes": an empty name leaves 5 fields.
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() == 3 && lines[2].startsWith(QStringLiteral("1st")), qPrintable(out));
    const QStringList fields = lines[2].split(u' ', Qt::SkipEmptyParts);
    const QString job = QStringLiteral("ipp://%1/jobs/%2")
                            .arg(QString::fromLatin1(QUrl::toPercentEncoding(FServer->socketPath())), fields[2]);
    const bool asked =
        FServer->run(QStringLiteral("ipptool"), {QStringLiteral("-tv"), job, QStringLiteral("get-job-attributes.test")},
                     &attributes);
    QVERIFY(FServer->cancelAll());
    QVERIFY(FServer->enableQueue(QStringLiteral("TestCutter")));
    QCOMPARE(fields.size(), 5);
    QVERIFY2(asked, qPrintable(attributes));
    QVERIFY2(attributes.contains("document-format (mimeMediaType) = " + format + '\n'), qPrintable(attributes));
}

int TestPrintGeometry::ServerJobCount() const
{
    QString out;
    const QStringList args{QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o")};
    if (!FServer->run(QStringLiteral("lpstat"), args, &out))
        return -1;
    return static_cast<int>(out.split(u'\n', Qt::SkipEmptyParts).size());
}

enum class Refusal { Removed, RemovedWhileDrawing, NotAccepting, NothingOnTheSheet };
Q_DECLARE_METATYPE(Refusal)

void TestPrintGeometry::refusedJobLeavesNoJob_data()
{
    QTest::addColumn<bool>("raw");
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<QString>("message");
    const QString notValid = QStringLiteral("Printer selected is not valid");
    QTest::newRow("removed after choosing") << false << Refusal::Removed << notValid;
    QTest::newRow("raw, removed after choosing") << true << Refusal::Removed << notValid;
    // The server's own words, as the error box shows them.
    QTest::newRow("raw, removed while the job is drawn")
        << true << Refusal::RemovedWhileDrawing
        << QStringLiteral("System Error.  Code: 1030.\r\nThe printer or class does not exist");
    QTest::newRow("raw, not accepting jobs")
        << true << Refusal::NotAccepting
        << QStringLiteral("System Error.  Code: 1286.\r\nDestination \"Gone\" is not accepting jobs");
    // Refused by the program itself, through the driver and raw alike.
    const QString offSheet = QStringLiteral("Nothing of the plot falls on the sheet at this position, so nothing was "
                                            "sent; choose another position or a larger sheet");
    QTest::newRow("nothing on the sheet") << false << Refusal::NothingOnTheSheet << offSheet;
    QTest::newRow("raw, nothing on the sheet") << true << Refusal::NothingOnTheSheet << offSheet;
}

void TestPrintGeometry::refusedJobLeavesNoJob()
{
    // Every CUPS queue takes raw jobs, whatever its driver; one that refuses
    // them refuses all jobs (cupsreject), or is no longer there.
    QFETCH(bool, raw);
    QFETCH(Refusal, refusal);
    QFETCH(QString, message);
    const QString queue = QStringLiteral("Gone");
    QVERIFY(raw ? FServer->addRawQueue(queue) : FServer->addQueue(queue));
    DeviceSettings settings = DefaultSettings(StdStr(queue));
    QCOMPARE(settings.Language, raw ? SendAs::HPGL : SendAs::Driver);
    Printer().SetPrinter({StdStr(queue), {}, {}}, settings);
    const int jobs = ServerJobCount();
    const qsizetype kept = FServer->jobFiles().size() + FServer->rawJobFiles().size();

    try {
        if (refusal == Refusal::RemovedWhileDrawing) {
            Printer().BeginJob(std::string(), ActiveDeviceRequest(0).Target);
            const TPoint line[] = {{0, 0}, {1000, 1000}};
            Printer().Canvas().Polyline(line, 2);
            QVERIFY(FServer->deleteQueue(queue));
            Printer().EndDoc();
        } else if (refusal == Refusal::NothingOnTheSheet) {
            // A line beside the sheet's left edge, unplaced.
            TPLT beside;
            beside.AddPolygon();
            beside.AddPoint({-2000, 1000});
            beside.AddPoint({-1000, 5000});
            PrintPlot(beside, ActiveDeviceRequest(-1));
        } else {
            QVERIFY(refusal == Refusal::Removed ? FServer->deleteQueue(queue) : FServer->rejectJobs(queue));
            PrintPlot(FSample, ActiveDeviceRequest(2));
        }
        QFAIL("the job was reported as sent");
    } catch (const Exception& e) {
        QCOMPARE(QStr(e.Message()), message);
        QCOMPARE(dynamic_cast<const EOSError*>(&e) != nullptr,
                 refusal == Refusal::RemovedWhileDrawing || refusal == Refusal::NotAccepting);
    }
    QVERIFY(!Printer().Printing());
    FServer->deleteQueue(queue);
    QCOMPARE(ServerJobCount(), jobs);
    QTest::qWait(200); // a job taken after all would be kept by now
    QCOMPARE(FServer->jobFiles().size() + FServer->rawJobFiles().size(), kept);
}

QTEST_GUILESS_MAIN(TestPrintGeometry)
#include "test_print_geometry.moc"
