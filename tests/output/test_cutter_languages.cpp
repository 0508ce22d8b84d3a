// Jobs in the cutters' own languages: the exact bytes of small jobs; the
// cutter's axes; a sink that fails; and the test decoder on hand-written jobs.
// Where the cuts land against the PDF page: test_pdf_page_box.

#include "common/Exceptions.h"
#include "cutter/BufferHandshake.h"
#include "cutter/CutterLanguage.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/StdText.h"
#include "tests/support/SurfaceDrawing.h"

#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A file written through the C library's own buffer, as a file job's is.
class FileSink final : public ByteSink {
public:
    explicit FileSink(const char* path) : FFile(std::fopen(path, "wb")) {}
    ~FileSink() override
    {
        if (FFile)
            std::fclose(FFile);
    }
    bool IsOpen() const { return FFile != nullptr; }
    std::int64_t Write(const char* data, std::int64_t size) override
    {
        const std::size_t n = std::fwrite(data, 1, static_cast<std::size_t>(size), FFile);
        if (n < static_cast<std::size_t>(size))
            FError = errno;
        return n > 0 ? static_cast<std::int64_t>(n) : -1;
    }
    bool Flush() override
    {
        if (std::fflush(FFile) == 0)
            return true;
        FError = errno;
        return false;
    }
    std::string ErrorText() const override { return std::strerror(FError); }

private:
    std::FILE* FFile;
    int FError = 0;
};

} // namespace

class TestCutterLanguages : public QObject {
    Q_OBJECT
private slots:
    void smallJobBytes_data();
    void smallJobBytes();
    void cutterAxes_data();
    void cutterAxes();
    void failingSinkIsAnError();
    void stoppedJobsEndWithTheKnifeUp_data();
    void stoppedJobsEndWithTheKnifeUp();
    void blocksForTheCuttersRoom_data();
    void blocksForTheCuttersRoom();
    void blocksEndWhereAStoppedJobWould();
    void decoderReadsWhatTheLanguagesAllow_data();
    void decoderReadsWhatTheLanguagesAllow();
};

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
    // Out through the foot and straight back in through the left edge: two
    // cuts, not one joined across the sheet's corner.
    QTest::newRow("HPGL out and back in at a corner")
        << SendAs::HPGL << Plot{{{2000, 200}, {-300, -300}, {200, 2000}}}
        << QByteArray("IN;\nSP1;\nPU800,80;\nPD432,0;\nPU0,432;\nPD80,800;\nPU;\nSP0;\n");
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
    // The scale is per axis of the sheet, so it turns with the axes: plotter
    // x, up the sheet, gets the sheet's y scale.
    DeviceSettings scaled = with(a4, true, false, false);
    scaled.Corrections.ScaleXPercent = 50;
    scaled.Corrections.ScaleYPercent = 200;
    QTest::newRow("rotated, scaled per axis") << scaled << from << to << QByteArray("PU8560,4000;\nPD8560,3600;\n");
    QTest::newRow("rotated, both mirrored: three quarter turns")
        << with(a4, true, true, true) << from << to << QByteArray("PU7600,400;\nPD7600,1200;\n");
    // Landscape first: (10, 20) to (30, 20) mm on a sheet 297 wide, 210 high.
    QTest::newRow("landscape rotated") << with(Sheet(210, 297, 0, 0, 0, 0, true), true, false, false) << from << to
                                       << QByteArray("PU800,11480;\nPD800,10680;\n");
    // Sheared back by a 2-degree skew, y lengthened by 1 / cos: x gains
    // 107 tan 2 = 3.74 mm, y becomes 107.07 mm, and the line, now past the
    // sheet's right side, ends there.
    DeviceSettings skewed = a4;
    skewed.Corrections.SkewDeg = 2;
    QTest::newRow("skewed, clipped at the side")
        << skewed << TPoint{20000, 19000} << TPoint{20900, 19000} << QByteArray("PU8149,4283;\nPD8400,4283;\n");
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
    StringSink sink;
    CutterSurface surface(sheet, Dpi, sink);
    const TPoint line[] = {from, to};
    surface.Polyline(line, 2);
    surface.Finish();
    QCOMPARE(QByteArray::fromStdString(sink.Bytes()), "IN;\nSP1;\n" + cut + "PU;\nSP0;\n");
}

void TestCutterLanguages::failingSinkIsAnError()
{
    DeviceSettings s = Sheet(210, 297);
    s.Language = SendAs::GPGL;
    const std::vector<TPoint> line = {{0, 0}, {1000, 1000}, {2000, 0}};

    // A full disk shows when the file's own buffer is flushed at the end.
    FileSink full("/dev/full");
    QVERIFY(full.IsOpen());
    CutterSurface small(s, Dpi, full);
    small.Polyline(line.data(), 3);
    try {
        small.Finish();
        QFAIL("a full disk was reported as success");
    } catch (const EFileError& e) {
        QCOMPARE(QStr(e.Message()), QStringLiteral("Cannot write the cutter job: No space left on device"));
    }

    // A long job goes out while it is drawn, and fails there.
    FileSink fullToo("/dev/full");
    QVERIFY(fullToo.IsOpen());
    CutterSurface big(s, Dpi, fullToo);
    QVERIFY_THROWS_EXCEPTION(EFileError, for (int i = 0; i < 100000; ++i) big.Polyline(line.data(), 3));
    QVERIFY_THROWS_EXCEPTION(EFileError, big.Finish());
}

void TestCutterLanguages::stoppedJobsEndWithTheKnifeUp_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QByteArray>("sent"); // when the job was stopped
    QTest::addColumn<QByteArray>("cut");  // what the cutter gets in all
    QTest::newRow("HPGL in a number") << SendAs::HPGL << QByteArray("IN;\nSP1;\nPU0,0;\nPD400,0,40")
                                      << QByteArray("IN;\nSP1;\nPU0,0;\nPD400,0,400,200;\nPU;\nSP0;\n");
    QTest::newRow("HPGL after a pair") << SendAs::HPGL << QByteArray("IN;\nSP1;\nPU0,0;\nPD400,0")
                                       << QByteArray("IN;\nSP1;\nPU0,0;\nPD400,0;\nPU;\nSP0;\n");
    QTest::newRow("HPGL in a move") << SendAs::HPGL << QByteArray("IN;\nSP1;\nPU0,")
                                    << QByteArray("IN;\nSP1;\nPU0,0;\nPU;\nSP0;\n");
    QTest::newRow("HPGL before a line break")
        << SendAs::HPGL << QByteArray("IN;\nSP1;\nPU0,0;") << QByteArray("IN;\nSP1;\nPU0,0;\nPU;\nSP0;\n");
    QTest::newRow("HPGL before the first byte") << SendAs::HPGL << QByteArray() << QByteArray();
    QTest::newRow("DMPL in a cut's first pair")
        << SendAs::DMPL << QByteArray(";:H A EC1\nU0,0\nD3") << QByteArray(";:H A EC1\nU0,0\nD394,0\nU\nP0\n@\n");
    // Only the closing instruction's line break left: the job ends itself.
    QTest::newRow("DMPL before its last byte")
        << SendAs::DMPL << QByteArray(";:H A EC1\nU0,0\nD394,0,394,197,0,197\nU\nP0\n@")
        << QByteArray(";:H A EC1\nU0,0\nD394,0,394,197,0,197\nU\nP0\n@\n");
    QTest::newRow("GPGL in a y") << SendAs::GPGL
                                 << QByteArray("H\x03M0,0\x03"
                                               "D200,0,200,1")
                                 << QByteArray("H\x03M0,0\x03"
                                               "D200,0,200,100\x03M200,100\x03");
    QTest::newRow("CAMMGL in the last pair") << SendAs::CAMMGL << QByteArray("H\nM0,0\nD400,0,400,200,0,2")
                                             << QByteArray("H\nM0,0\nD400,0,400,200,0,200\nM0,200\n");
}

// A job stopped part way still ends as a job: the pair under way finished
// (never half a number), the knife lifted, the job closed.
void TestCutterLanguages::stoppedJobsEndWithTheKnifeUp()
{
    QFETCH(SendAs, language);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, cut);
    const QByteArray job =
        CutterJob(Sheet(210, 297), language, {0, 0}, Plot{{{0, 0}, {1000, 0}, {1000, 500}, {0, 500}}});
    QVERIFY2(job.startsWith(sent), job.constData());
    const CutterJobEnding ending = StoppedJobEnding(language, Bytes(job), sent.size());
    QCOMPARE(job.left(sent.size() + ending.More) + QByteArray::fromStdString(ending.Close), cut);
    QString error;
    if (!cut.isEmpty())
        DecodePlotterJob(language, cut, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestCutterLanguages::blocksForTheCuttersRoom_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QByteArray>("job");
    QTest::addColumn<QByteArray>("sent");  // before the block
    QTest::addColumn<int>("free");         // what the cutter answered
    QTest::addColumn<int>("buffer");       // its buffer's size, 0: not told
    QTest::addColumn<QByteArray>("block"); // empty: wait and ask again
    const QByteArray hpgl = "IN;\nSP1;\nPU0,0;\nPD400,0,400,200;\nPU;\nSP0;\n";
    const QByteArray start = "IN;\nSP1;\nPU0,0;\n";
    // ESC.B's 3 bytes come after the block: 16 bytes of room take the move too.
    QTest::newRow("HPGL: whole instructions, the question counted")
        << SendAs::HPGL << hpgl << QByteArray() << 18 << 0 << QByteArray("IN;\nSP1;\n");
    QTest::newRow("HPGL: room for the move too") << SendAs::HPGL << hpgl << QByteArray() << 19 << 0 << start;
    QTest::newRow("HPGL: a cut ends after a whole pair")
        << SendAs::HPGL << hpgl << start << 3 + 12 << 0 << QByteArray("PD400,0");
    QTest::newRow("HPGL: never half a pair") << SendAs::HPGL << hpgl << start << 3 + 6 << 0 << QByteArray();
    QTest::newRow("HPGL: no room at all") << SendAs::HPGL << hpgl << QByteArray() << 3 << 0 << QByteArray();
    // The answer is the room now; the buffer's size caps it.
    QTest::newRow("HPGL: capped by the buffer's size")
        << SendAs::HPGL << hpgl << QByteArray() << 1000 << 12 << QByteArray("IN;\nSP1;\n");
    // A move of 7 bytes never fits a buffer of 8 less the question: it goes
    // in parts, but only into an empty buffer.
    QTest::newRow("HPGL: larger than the whole buffer, buffer empty")
        << SendAs::HPGL << hpgl << QByteArray("IN;\nSP1;\n") << 8 << 8 << QByteArray("PU0,0");
    QTest::newRow("HPGL: larger than the whole buffer, buffer in use")
        << SendAs::HPGL << hpgl << QByteArray("IN;\nSP1;\n") << 7 << 8 << QByteArray();
    QTest::newRow("CAMMGL: a negative pair whole")
        << SendAs::CAMMGL << QByteArray("H\nM0,0\nD-40,-7,400,200\nM400,200\n") << QByteArray("H\nM0,0\n") << 3 + 9 << 0
        << QByteArray("D-40,-7");
}

// What one block of the handshake holds: never more than the cutter's room
// less the next question, never half an instruction or pair.
void TestCutterLanguages::blocksForTheCuttersRoom()
{
    QFETCH(SendAs, language);
    QFETCH(QByteArray, job);
    QFETCH(QByteArray, sent);
    QFETCH(int, free);
    QFETCH(int, buffer);
    QFETCH(QByteArray, block);
    QVERIFY(job.startsWith(sent));
    const TBufferHandshake handshake(language, 3, buffer);
    const std::int64_t n = handshake.Block(Bytes(job), sent.size(), free);
    QCOMPARE(job.mid(sent.size(), static_cast<qsizetype>(n)), block);
}

// Over whole jobs of every language, from every place a block may end and
// for rooms from a byte up: a block ends at the last place within the room
// where a stopped job would need nothing more of the job to close, so the
// cutter never holds half a number or a move.
void TestCutterLanguages::blocksEndWhereAStoppedJobWould()
{
    const Plot plot = {{{0, 0}, {1000, 0}, {1000, 500}, {0, 500}, {0, 0}},
                       {{20000, 25000}, {20500, 25700}},
                       {{3000, 100}, {3100, 200}, {3000, 300}}};
    for (const SendAs language : {SendAs::HPGL, SendAs::DMPL, SendAs::GPGL, SendAs::CAMMGL}) {
        DeviceSettings s = Sheet(210, 297);
        s.Corrections.Force = 10;
        const QByteArray job = CutterJob(s, language, {0, 0}, plot);
        const std::string_view text = Bytes(job);
        const auto size = static_cast<std::ptrdiff_t>(text.size());
        const auto ends = [&](std::ptrdiff_t at) {
            return at == size || StoppedJobEnding(language, text, at).More == 0;
        };
        for (std::ptrdiff_t at = 0; at < size; ++at) {
            if (!ends(at))
                continue;
            for (std::ptrdiff_t room = 1; room <= 48; ++room) {
                std::ptrdiff_t last = at;
                for (std::ptrdiff_t b = at + 1; b <= std::min(at + room, size); ++b)
                    if (ends(b))
                        last = b;
                const std::ptrdiff_t n = BlockBytes(language, text, at, room);
                if (n != last - at)
                    QFAIL(qPrintable(QStringLiteral("%1 from byte %2 with room %3: %4 bytes, not %5 (%6)")
                                         .arg(QString::fromLatin1(LanguageName(language).data()))
                                         .arg(at)
                                         .arg(room)
                                         .arg(n)
                                         .arg(last - at)
                                         .arg(QString::fromLatin1(job.mid(at, room)).toHtmlEscaped())));
            }
        }
    }
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
