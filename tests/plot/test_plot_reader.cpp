#include "common/Exceptions.h"
#include "platform/PlotFile.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "tests/support/EncodedPolyline.h"
#include "tests/support/PlotFileLines.h"
#include "tests/support/StdText.h"

#include <QtTest>

#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "(x,y)(x,y)|(x,y)": polylines in order, points in order.
QString Describe(const TPLT& store)
{
    QStringList polylines;
    for (const TPolygonView& p : store.Polygons()) {
        QString s;
        for (const TPoint& pt : p.Points)
            s += QStringLiteral("(%1,%2)").arg(pt.X).arg(pt.Y);
        polylines.append(s);
    }
    return polylines.join(u'|');
}

QString NotInteger(const QString& text)
{
    return QStringLiteral("''%1'' is not a valid integer value").arg(text);
}

QString OutOfRange(const QString& text)
{
    return QStringLiteral("''%1'' is out of range for a plot coordinate").arg(text);
}

// Runs read() and returns the message of the EConvertError it raised, or an
// empty string.
template <typename Read>
QString ConvertFailure(Read read)
{
    try {
        read();
    } catch (const EConvertError& e) {
        return QStr(e.Message());
    }
    return {};
}

QByteArray Utf16(const QString& text, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        if (littleEndian)
            out.append(lo).append(hi);
        else
            out.append(hi).append(lo);
    }
    return out;
}

} // namespace

class TestPlotReader : public QObject {
    Q_OBJECT
private slots:
    void init();

    void lines_data();
    void lines();
    void readResetsTheStore();

    void fileDecoding_data();
    void fileDecoding();
    void fileConversionErrors_data();
    void fileConversionErrors();
    void undecodableFiles_data();
    void undecodableFiles();
    void missingFileNamesFullPath();
    void unreadablePaths_data();
    void unreadablePaths();
    void sizeLimit_data();
    void sizeLimit();
    void outOfMemoryKeepsTheStore();

    void hpglFiles_data();
    void hpglFiles();
    void curvesAreCutWithinAHundredth_data();
    void curvesAreCutWithinAHundredth();

private:
    QString WriteFile(const QByteArray& content, const QString& name = QStringLiteral("plot.plt"));
    std::unique_ptr<QTemporaryDir> FDir;
};

void TestPlotReader::init()
{
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

QString TestPlotReader::WriteFile(const QByteArray& content, const QString& name)
{
    const QString path = FDir->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestPlotReader::lines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("plot");
    QTest::addColumn<QString>("error");

    const auto row = [](const char* name, QStringList lines, const char* plot, const QString& error = {}) {
        QTest::newRow(name) << lines << QString::fromUtf8(plot) << error;
    };

    // Scaling truncates toward zero on both sides of the origin.
    row("pen up then down", {"PU415 1231;", "PD-10 -20;"}, "(1054,3126)(-25,-50)");
    row("lower and mixed case", {"pu415 1231;", "Pd410 1254;"}, "(1054,3126)(1041,3185)");
    row("each PU starts a polyline", {"PU1 1;", "PD2 2;", "PU3 3;"}, "(2,2)(5,5)|(7,7)");
    row("other instructions and blanks skipped", {"IN;", "SP1;", "", "   ", "PA10 10;", "SP0;"}, "");
    row("comma instead of space skipped", {"PU415,1231;"}, "");
    row("no semicolon skipped", {"PU415 1231"}, "");
    row("no space skipped even with bad text", {"PUxyz;"}, "");
    row("pen down before any pen up adds nothing", {"PD1 2;", "PU3 4;"}, "(7,10)");
    row("pen down before pen up still converts", {"PDz 2;", "PU3 4;"}, "", NotInteger("z"));
    row("later text after the semicolon ignored", {"PU1 2;3 4;"}, "(2,5)");

    // First space and first semicolon of the whole line, and PU beats PD.
    row("space after instruction", {"PU 415 1231;"}, "", NotInteger(""));
    row("semicolon before space", {"SP1;PU415 1231;"}, "", NotInteger(""));
    row("space before semicolon", {"PU415 1231 ;"}, "", NotInteger("1231 "));
    row("PU found after PD", {"PD7 8;PU"}, "", NotInteger(""));
    row("PU in mid line", {"xxPU5 5;"}, "(12,12)");

    // The integer conversion.
    row("leading blanks in Y", {"PU5  7;"}, "(12,17)");
    row("tab is not a blank", {"PU5 \t7;"}, "", NotInteger("\t7"));
    row("signs", {"PU+5 -7;"}, "(12,-17)");
    row("two signs", {"PU5 +-7;"}, "", NotInteger("+-7"));
    row("lone sign", {"PU- 1;"}, "", NotInteger("-"));
    row("lone dollar", {"PU$ 1;"}, "", NotInteger("$"));
    row("lone 0x", {"PU1 0x;"}, "", NotInteger("0x"));
    row("hex prefixes, digits in either case", {"PU$1A 0;", "PDx10 X10;", "PD0X1f 0xF;", "PD-$10 +x10;"},
        "(66,0)(40,40)(78,38)(-40,40)");
    row("eight F digits are -1", {"PU$FFFFFFFF $ffffffff;"}, "(-2,-2)");
    row("nine hex digits", {"PU$000000001 0;"}, "", NotInteger("$000000001"));
    row("bad hex digit", {"PU$1G 0;"}, "", NotInteger("$1G"));
    row("00x is not a prefix", {"PU00x1 0;"}, "", NotInteger("00x1"));
    row("leading zeros", {"PU0000000000000000000415 0001231;"}, "(1054,3126)");
    row("decimal above int32", {"PU2147483648 0;"}, "", NotInteger("2147483648"));
    row("huge decimal", {"PU99999999999999999999999 0;"}, "", NotInteger("99999999999999999999999"));
    row("non-ASCII digits", {"PU\uFF14\uFF11 1;"}, "", NotInteger("\uFF14\uFF11"));
    row("U+FEFF is text, not a mark", {"PU\uFEFF5 1;"}, "", NotInteger(QChar(0xFEFF) + QStringLiteral("5")));
    row("X reported before Y", {"PUa b;"}, "", NotInteger("a"));

    // Scaled values must fit 32 bits: the extremes that do, and the first
    // that do not.
    row("largest coordinates", {"PU845466003 -845466003;"}, "(2147483647,-2147483647)");
    row("scaled X too large", {"PU845466004 0;"}, "", OutOfRange("845466004"));
    row("scaled Y too small", {"PU0 -845466004;"}, "", OutOfRange("-845466004"));
    row("hex too large once scaled", {"PU0 $7FFFFFFF;"}, "", OutOfRange("$7FFFFFFF"));
    row("bad Y text wins over a range fault in X", {"PU999999999 z;"}, "", NotInteger("z"));

    // Long offending text is cut to 64 characters and an ellipsis, never
    // inside a surrogate pair.
    const QString a64(64, u'a'), a63(63, u'a'), ellipsis(QChar(0x2026));
    row("64 characters quoted whole", {"PU" + a64 + " 1;"}, "", NotInteger(a64));
    row("long text cut", {"PU" + a64 + "9999 1;"}, "", NotInteger(a64 + ellipsis));
    row("cut before a surrogate pair", {"PU1 " + a63 + "\U0001F600" + a64 + ";"}, "", NotInteger(a63 + ellipsis));
    row("long number out of range cut", {"PU0 " + QString(80, u'0') + "900000000;"}, "",
        OutOfRange(QString(64, u'0') + ellipsis));

    // A failing line adds nothing; what came before stays.
    row("failure keeps earlier lines", {"PU1 1;", "PD2 2;", "PDz 3;", "PD4 4;"}, "(2,2)(5,5)", NotInteger("z"));
    row("failing pen up starts no polyline", {"PU1 1;", "PU2 x;"}, "(2,2)", NotInteger("x"));
}

void TestPlotReader::lines()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, plot);
    QFETCH(QString, error);

    TPLT store;
    QCOMPARE(ConvertFailure([&] { ReadPlotText(store, StdStrings(lines)); }), error);
    QCOMPARE(Describe(store), plot);

    // The same lines as file content go through the byte-level parser.
    TPLT fromFile;
    const QByteArray content = lines.join(u'\n').toUtf8();
    QCOMPARE(ConvertFailure([&] { ReadPlotData(fromFile, Bytes(content), "plot.plt"); }), error);
    QCOMPARE(Describe(fromFile), plot);
    QCOMPARE(fromFile.Bound(), store.Bound());
}

void TestPlotReader::readResetsTheStore()
{
    TPLT store;
    ReadPlotText(store, {"PU1 1;", "PD2 2;"});
    ReadPlotText(store, {"PU3 3;"});
    QCOMPARE(Describe(store), QStringLiteral("(7,7)"));
    QCOMPARE(store.Bound(), (TRect{7, 7, 7, 7}));

    ReadPlotFile(store, FileBytes(WriteFile("")));
    QCOMPARE(store.NPolygons(), 0);
    QCOMPARE(store.Bound(), EmptyBound);
}

void TestPlotReader::fileDecoding_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");

    const QString e = QStringLiteral("\u00E9");
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("LF") << QByteArray("a\nb") << QStringList{"a", "b"};
    QTest::newRow("final LF adds no line") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CRLF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("mixed ends and empty lines") << QByteArray("a\r\n\r\nb\n\rc") << QStringList{"a", "", "b", "", "c"};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\r") << QStringList{"a", ""};
    QTest::newRow("lone terminator") << QByteArray("\n") << QStringList{""};
    QTest::newRow("NUL ends the text") << QByteArray("a\nb\0c\nd", 7) << QStringList{"a", "b"};
    QTest::newRow("NUL between CR and LF") << QByteArray("a\r\0\nb", 5) << QStringList{"a"};
    QTest::newRow("NUL first") << QByteArray("\0a", 2) << QStringList{};
    QTest::newRow("no mark, UTF-8 locale") << QString("SP%1;").arg(e).toUtf8() << QStringList{"SP" + e + ";"};
    QTest::newRow("no mark, undecodable byte") << QByteArray("\xFF"
                                                             "a")
                                               << QStringList{QString(QChar::ReplacementCharacter) + "a"};
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBFPU1 2;\r\n"
                                              "\xF0\x9F\x98\x80")
                                << QStringList{"PU1 2;", QStringLiteral("\U0001F600")};
    QTest::newRow("UTF-8 mark only") << QByteArray("\xEF\xBB\xBF") << QStringList{};
    QTest::newRow("UTF-16LE") << Utf16("PU1 2;\r\nx" + e, true) << QStringList{"PU1 2;", "x" + e};
    QTest::newRow("UTF-16BE") << Utf16("PU1 2;\nx" + e + "\n", false) << QStringList{"PU1 2;", "x" + e};
    QTest::newRow("UTF-16 ends at NUL unit")
        << Utf16(QStringLiteral("a\nb") + QChar(0) + "c", true) << QStringList{"a", "b"};
    // FF FE is taken first, so a UTF-32LE mark reads as UTF-16 whose first
    // unit is NUL.
    QTest::newRow("UTF-32LE mark") << QByteArray("\xFF\xFE\0\0P\0\0\0", 8) << QStringList{};
    QTest::newRow("UTF-16 mark only") << QByteArray("\xFE\xFF") << QStringList{};
}

void TestPlotReader::fileDecoding()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);

    const QString path = WriteFile(content);
    QCOMPARE(ReadPlotFileLines(path), lines);

    // Reading the file in place must agree with reading its decoded lines.
    TPLT fromFile, fromLines;
    fromFile.AddPolygon();
    ReadPlotData(fromFile, LoadPlotFile(FileBytes(path), FileBytes(path)), FileBytes(path));
    ReadPlotText(fromLines, StdStrings(lines));
    QCOMPARE(Describe(fromFile), Describe(fromLines));
}

void TestPlotReader::fileConversionErrors_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");

    QTest::newRow("no mark, non-ASCII text") << QByteArray("PU1 2;\nPU\xC3\xA9 1;") << NotInteger("\u00E9");
    // Named as the whole text would decode, not byte by byte.
    const QString stray = QString::fromUtf8("PU\xE2\x82 1;");
    QTest::newRow("no mark, stray bytes")
        << QByteArray("PU\xE2\x82 1;") << NotInteger(stray.mid(2, stray.indexOf(u' ') - 2));
    QTest::newRow("U+FEFF inside a line is text") << QByteArray("PU\xEF\xBB\xBF"
                                                                "5 1;")
                                                  << NotInteger(QChar(0xFEFF) + QStringLiteral("5"));
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBFPU1 \xE2\x82\xAC;") << NotInteger("\u20AC");
    QTest::newRow("UTF-16BE") << Utf16("PU\u0661 1;", false) << NotInteger("\u0661");
    QTest::newRow("range on CRLF line") << QByteArray("PU1 1;\r\nPU1 900000000;\r\n") << OutOfRange("900000000");
}

void TestPlotReader::fileConversionErrors()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    TPLT store;
    QCOMPARE(ConvertFailure([&] { ReadPlotFile(store, FileBytes(WriteFile(content))); }), error);
}

void TestPlotReader::undecodableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("name");

    const QByteArray mark("\xEF\xBB\xBFPU1 1;\n");
    const QString badUtf8 = QStringLiteral("is not valid UTF-8 text: invalid byte sequence at offset 10");
    // Any file name comes out as given, placeholders and all.
    QTest::newRow("name with %1") << mark + "\x80" << badUtf8 << QStringLiteral("name%1%2.plt");
    QTest::newRow("bad continuation") << mark + "\xC3(" << badUtf8 << QString();
    QTest::newRow("overlong slash") << mark + "\xC0\xAF" << badUtf8 << QString();
    QTest::newRow("overlong three bytes") << mark + "\xE0\x80\xAF" << badUtf8 << QString();
    QTest::newRow("surrogate") << mark + "\xED\xA0\x80" << badUtf8 << QString();
    QTest::newRow("above U+10FFFF") << mark + "\xF4\x90\x80\x80" << badUtf8 << QString();
    QTest::newRow("cut short at end") << mark + "\xE2\x82" << badUtf8 << QString();
    QTest::newRow("lone continuation") << mark + "\x80" << badUtf8 << QString();
    // Checked whole, as the decoder did: even bytes after a NUL count.
    QTest::newRow("after a NUL") << mark + QByteArray("\0\xFF", 2)
                                 << QStringLiteral("is not valid UTF-8 text: invalid byte sequence at offset 11")
                                 << QString();
    const QString oddUtf16 = QStringLiteral("is not valid UTF-16 text: it ends in the middle of a character");
    QTest::newRow("odd UTF-16LE") << QByteArray("\xFF\xFEP\0U", 5) << oddUtf16 << QString();
    QTest::newRow("odd UTF-16BE") << QByteArray("\xFE\xFF\0", 3) << oddUtf16 << QString();
}

void TestPlotReader::undecodableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, detail);
    QFETCH(QString, name);

    const QString path = name.isEmpty() ? WriteFile(content) : WriteFile(content, name);
    const QString expected = QStringLiteral("The file \"%1\" %2").arg(path, detail);
    // A file that cannot be decoded must fail loudly, not read as an empty
    // plot, and must leave the store as it was.
    TPLT store;
    ReadPlotText(store, {"PU1 1;"});
    try {
        ReadPlotFile(store, FileBytes(path));
        QFAIL("no error raised");
    } catch (const EFileError& e) {
        QCOMPARE(QStr(e.Message()), expected);
    }
    QCOMPARE(Describe(store), QStringLiteral("(2,2)"));
    QVERIFY_THROWS_EXCEPTION(EFileError, ReadPlotFileLines(path));
}

void TestPlotReader::missingFileNamesFullPath()
{
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(FDir->path()));
    QString message;
    try {
        TPLT store;
        ReadPlotFile(store, "missing.plt");
    } catch (const EFOpenError& e) {
        message = QStr(e.Message());
    }
    QDir::setCurrent(saved);
    QCOMPARE(message, QStringLiteral("Cannot open file \"%1\". No such file or directory")
                          .arg(QFileInfo(FDir->filePath("missing.plt")).absoluteFilePath()));
}

void TestPlotReader::unreadablePaths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("directory") << "directory"
                               << "It is a directory, not a file";
    QTest::newRow("FIFO without writer") << "fifo"
                                         << "It is not a regular file (a device, pipe or socket)";
    QTest::newRow("endless device") << "/dev/zero"
                                    << "It is not a regular file (a device, pipe or socket)";
    QTest::newRow("no permission") << "mode 000"
                                   << "Permission denied";
}

void TestPlotReader::unreadablePaths()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);

    QString path;
    if (kind == "directory") {
        path = FDir->path();
    } else if (kind == "fifo") {
        path = FDir->filePath("pipe.plt");
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "mode 000") {
        if (::geteuid() == 0)
            QSKIP("root may read any file");
        path = WriteFile("PU1 1;");
        QVERIFY(QFile::setPermissions(path, {}));
    } else {
        path = kind;
    }

    TPLT store;
    ReadPlotText(store, {"PU1 1;"});
    try {
        ReadPlotFile(store, FileBytes(path));
        QFAIL("no error raised");
    } catch (const EFOpenError& e) {
        QCOMPARE(QStr(e.Message()), QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    }
    QCOMPARE(Describe(store), QStringLiteral("(2,2)"));
}

void TestPlotReader::sizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("exactly the limit") << qint64(MaxPlotFileSize);
    QTest::newRow("one byte more") << qint64(MaxPlotFileSize + 1);
}

void TestPlotReader::sizeLimit()
{
    // Sparse, so the test costs no disk. The text ends at its first NUL: a
    // file of the limit is the one line before the zeros; one byte more is
    // refused on its size alone, unread.
    QFETCH(qint64, size);
    const QString path = WriteFile("PU1 1;\nPD2 2;\n", QStringLiteral("big%1.plt"));
    QVERIFY(QFile::resize(path, size));
    TPLT store;
    try {
        ReadPlotFile(store, FileBytes(path));
        QCOMPARE(size, MaxPlotFileSize);
        QCOMPARE(Describe(store), QStringLiteral("(2,2)(5,5)"));
    } catch (const EFileError& e) {
        QCOMPARE(size, MaxPlotFileSize + 1);
        QCOMPARE(QStr(e.Message()), "The file \"" + path + "\" is too large to be a plot file (the limit is 160 MiB)");
    }
}

void TestPlotReader::outOfMemoryKeepsTheStore()
{
#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
    QSKIP("AddressSanitizer aborts on a failed allocation instead of throwing");
#else
    // Room for the content but not for the store it needs (about four times
    // its size): the read must fail cleanly, not half fill the store.
    const QByteArray content = QByteArray("PU1 1;\n").repeated(8 * 1024 * 1024);
    TPLT store;
    ReadPlotText(store, {"PU1 1;"});

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_AS, &saved), 0);
    std::ifstream status("/proc/self/statm");
    long pages = 0;
    status >> pages;
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + 64 * 1024 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_AS, &tight), 0);
    QString message;
    try {
        ReadPlotData(store, Bytes(content), "huge%1.plt");
    } catch (const EOutOfMemory& e) {
        message = QStr(e.Message());
    }
    ::setrlimit(RLIMIT_AS, &saved);

    QCOMPARE(message, QStringLiteral("Out of memory while reading the file \"huge%1.plt\""));
    QCOMPARE(Describe(store), QStringLiteral("(2,2)"));
#endif
}

// Files not in the sample's layout are HP-GL: 40 plotter units per mm, so
// 1000 units are 2500 hundredths of a millimetre. A bad file names what and
// where, and leaves the store as it was.
void TestPlotReader::hpglFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("pens");
    QTest::addColumn<QString>("plot");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("notices");

    const auto row = [](const char* name, const QByteArray& content, const char* plot, const QString& error = {},
                        QList<int> pens = {}, const QStringList& notices = {}) {
        QTest::newRow(name) << content << pens << QString::fromUtf8(plot) << error << notices;
    };
    const auto noted = [&row](const char* name, const QByteArray& content, const char* plot,
                              const QStringList& notices) { row(name, content, plot, {}, {}, notices); };
    const QString unsupported = QStringLiteral("The HPGL instruction \"%1\" at line %2 is not supported: %3");
    const QString sheetPoints = QStringLiteral("The file scales its plot (SC) to the plotter's own limits without "
                                               "setting them (IP): the sheet's 210 x 297 mm were taken");
    const auto notCut = [](const char* what) { return "Not cut, as a knife cuts only lines: " + QString(what); };
    const auto wrappers = [](int n) {
        return QStringLiteral("Passed over: %1 printer commands (PCL or PJL) around the plot").arg(n);
    };

    // Which reader: only a file wholly in the sample's layout keeps its units.
    row("sample layout", "IN;\nPU415 1231;\npd-10 -20;  \nSP0;\n", "(1054,3126)(-25,-50)");
    row("all on one line", "IN;VS10;FS50;SP1;PU1000,1000;PD2000,1000,2000,2000;PU;SP0;",
        "(2500,2500)(5000,2500)(5000,5000)");
    row("one per line with commas, CR LF, no final semicolon", "IN\r\nPU1000,1000\r\nPD2000,1000\r\nPU",
        "(2500,2500)(5000,2500)");
    // A sample-layout file with one malformed line would lose that line
    // there; as HP-GL it is read whole.
    row("sample layout with a comma", "PU0 0;\nPD100 0;\nPD100,100;\n", "(0,0)(250,0)(250,250)");
    row("sample layout without a semicolon", "PU0 0;\nPD100 100\n", "(0,0)(250,250)");
    row("pen down before pen up", "PD10 10;\nPU0 0;\nPD100 0;\n", "(0,0)(25,25)|(0,0)(250,0)");
    row("two instructions on a line", "SP1;PU415 1231;\nPD0 0;", "(1038,3078)(0,0)");
    row("no PU or PD at all", "IN;SP1;PA40,0;ZZ;", "",
        unsupported.arg("ZZ", "1, column 15", "it is not an instruction this program reads"));

    // Moves, modes, numbers and pens.
    row("PA and PR mixed, blanks", "IN;PA100 100;PD;PR100 0 0 100;PA0 0;PU;PR10,10;PD10,0",
        "(250,250)(500,250)(500,500)(0,0)|(25,25)(50,25)");
    row("signs and decimals", "PU-10.5,+.4;PD-.4,10.,1 2", "(-26,1)(-1,25)(3,5)");
    row("lower case, trailing comma", "pu0,0;pd4,0,;", "(0,0)(10,0)");
    row("pen changes end a polyline", "SP1;PU0,0;PD10,0;SP2;PD20,0;SP1;PD30,0;",
        "(0,0)(25,0)|(25,0)(50,0)|(50,0)(75,0)");
    row("only the chosen pen", "SP1;PU0,0;PD10,0;SP2;PD20,0;SP1;PD30,0;", "(25,0)(50,0)", {}, {2});
    row("no pen chosen yet is the first", "PU0,0;PD10,0;SP2;PD20,0", "(0,0)(25,0)", {}, {1});
    row("IN goes home", "PU40,40;IN;PD40,0", "(0,0)(100,0)");
    // Half units (one fractional bit), then a pen-up absolute move; the pen
    // stays down after PE, as its last move left it.
    row("polyline encoded", "PU0,0;PE>" + PeNumbers({1, 8, -4}) + "<=" + PeNumbers({40, 40, 8, 0}) + ";PR0,4;",
        "(0,0)(10,-5)|(50,50)(60,50)(60,60)");
    row("settings passed over", "IN;DF;LT;PW0.35;VS20;CO\"a;b\";DT*;ESC.@;PU0,0;PD4,0;PG;", "(0,0)(10,0)");
    row("device control passed over", "\x1B.(;\x1B.I81;;17:PU0,0PD4,0\x1B%-12345X", "(0,0)(10,0)", {}, {},
        {"Passed over: 1 printer command (PCL or PJL) around the plot"});
    row("largest coordinates", "PU0,0;PD858993458,-858993458", "(0,0)(2147483645,-2147483645)");
    // UTF-16 as a decoder reads it: a mark right after the first is one too;
    // what is not text is named as its replacement.
    row("UTF-16 with a second mark", Utf16(QChar(0xFEFF) + QStringLiteral("PU0,0;PD4,0;"), true), "(0,0)(10,0)");
    row("UTF-16 lone surrogate", Utf16(QStringLiteral("PU0,0;") + QChar(0xD800), true), "",
        "Unexpected \"?\" at line 1, column 7: an HPGL instruction starts with two letters");
    row("UTF-16 beyond the basic plane", Utf16(QStringLiteral("PU0,0;\U0001F600"), false), "",
        "Unexpected \"" + QString(2, QChar(0xFFFD))
            + "\" at line 1, column 7: an HPGL instruction starts with two "
              "letters");

    // Scaling without IP maps onto the sheet (A4 unless told: 8400 x 11880
    // units); a window, a turn or a label alone cut nothing.
    noted("scaling", "IN;SP1;\r\nPU0,0;SC0,100,0,100;PD4,4;", "(0,0)(840,1188)", {sheetPoints});
    // Told only when something was cut while it held: not once SC or IP
    // has undone it, but for a polygon placed under it and edged after.
    row("scaling turned off before drawing", "IN;SC0,100,0,100;SC;SP1;PU0,0;PD400,0;", "(0,0)(1000,0)");
    row("scaling points set before drawing", "IN;SC0,100,0,100;IP0,0,400,400;SP1;PU0,0;PD100,0;", "(0,0)(1000,0)");
    noted("polygon placed while scaling to the sheet", "IN;SC0,8400,0,11880;SP1;PU0,0;PM0;PD100,0,100,100;PM2;SC;EP;",
          "(0,0)(250,0)(250,250)(0,0)", {sheetPoints});
    row("input window", "IW0,0,10,10", "");
    row("rotation", "\nRO90;", "");
    row("label", "PU0,0;LBtext\x03", "", "has nothing to cut: its only drawing is 1 label, which a knife does not cut");

    // As drawing programs write them. A graphing library: IP and SC (0.8128
    // units a user unit), an edged rectangle, polygons edged, one closed by
    // its pen-up closing edge.
    row("graphing library, HP-GL/2",
        "BP;IN;PS10668;IP0,0,8128,8128;SC0,10000,0,10000;WU1;SP1;TR0;LT;LA1,1,2,2;LA3,10;PW0.0832;PA2000,2000;"
        "EA8000,8000;PA1000,1000;PM0;PD;PA2000,1000,2000,2000,1000,1000;PM2;PU;EP;PA0,0;PM0;PD;PA1000,0;PU;PM2;EP;"
        "PA0,0;SP0;PG0;",
        "(4064,4064)(16256,4064)(16256,16256)(4064,16256)(4064,4064)|(2032,2032)(4064,2032)(4064,4064)(2032,2032)|"
        "(0,0)(2032,0)");
    // The same turned a quarter: x runs up the sheet from its right edge.
    row("graphing library, turned", "IN;RO90;IP0,0,8128,8128;SC0,10000,0,10000;SP1;PA2000,2000;EA8000,8000;",
        "(16936,4064)(16936,16256)(4744,16256)(4744,4064)(16936,4064)");
    // A graphing program: SC with no IP spans the sheet; labels move the pen.
    noted("graphing program, HP-GL",
          "IN;\nSC0,10000,0,7500;\nSR0.200000,0.400000;\nDI0,1;\nDI1,0;\nPU;\nSP1;\nPU;PA0,0;\nPD;PA10000,0;\nPD;"
          "PA10000,7500;\nPU;PA105,105;\nLB-1\x03\nPU;PA0,7500;\n",
          "(0,0)(21000,0)(21000,29700)", {sheetPoints, notCut("1 label")});
    noted(
        "graphing program, PCL 5",
        "\x1B"
        "E\x1B&l1X\x1B&l1O\n\x1B%0B\x1B%0BINNP8SP1SD1,277,2,1,4,12.0,5,0,6,0,7,4148;SS;\nDI0,1DI1,0PU;\nSP1;PC1;\nPE<="
            + PeNumbers({0, 0, 400, 0}) + ";\nPD;FT1;RR40,40;FT;\nPM0;PE" + PeNumbers({40, 0, 0, 40})
            + ";PM2;FT1;FP;FT;LO8LB-1\x03\x1B*b4WPD9;\x1B%1A\x1B&l0H\n\x1B%0A\x1B"
              "E",
        "(0,0)(1000,0)", {notCut("2 fills and 1 label"), wrappers(10)});
    // A converter: scaling off, a polygon filled and edged, text, the cutter.
    noted("converter, HP-GL",
          "IN;SC;PU;SP1;LT;\nPW1;PU100,100;PD200,100;PD200,200;PD100,100;\nPU400,400;FT1;PM0;PW0;PU400,400;PD500,400;"
          "PD500,500;PD400,400;PM2;FP;EP;\nDI100,0;SI0.282222,0.282222;PU100,800;LBHi\x03;\nPU;SP;EC;PG1;EC1;OE\n",
          "(250,250)(500,250)(500,500)(250,250)|(1000,1000)(1250,1000)(1250,1250)(1000,1000)",
          {notCut("1 fill and 1 label")});
    // A converter's PCL through a graphics library: a (straight) Bézier
    // edged, its polygon closed by a drawn edge.
    noted("converter, PCL",
          "\x1B%0BBP;IN;PS10668;IP0,1016,8128,9144;SC0,10000,0,10000;WU1;SP1;PA5000,5000;PM0;PD;"
          "BZ5500,5000,6000,5000,6500,5000;PM2;PU;FT2;FP1;EP;PA0,0;SP0;PG0;\n\x1B%0A",
          "(10160,12700)(13208,12700)(10160,12700)", {notCut("1 fill"), wrappers(2)});
    row("PJL around HP-GL/2", "\x1B%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=HPGL2\r\nIN;SP1;PU0,0;PD4,0;\x1B%-12345X",
        "(0,0)(10,0)", {}, {}, {wrappers(4)});
    row("PCL and PJL alone", "ESCEESC&l1O@PJL JOB\nESC*b2WPDESC%-12345X", "",
        "has nothing to cut: it holds only printer commands (PCL or PJL), and no HP-GL drawing");
    // Data counted past the end would swallow the plot after it unsaid.
    row("PCL data past the end", "IN;SP1;PU0,0;PD400,0;ESC*b100WPU0,0;PD0,400;", "",
        "The PCL command \"ESC*b100W\" at line 1, column 22 counts more data than the file holds: the rest of the "
        "file would be its data");
    row("PCL data to the very end", "IN;SP1;PU0,0;PD4,0;ESC*b3WPD;", "(0,0)(10,0)", {}, {},
        {"Passed over: 1 printer command (PCL or PJL) around the plot"});

    // Scaling: isotropic with the spare room 25 % left, then split evenly;
    // point factors from P1; IR, then scaling off.
    row("isotropic scaling",
        "IN;IP0,0,4000,2000;SC0,100,0,100,1,25,0;SP1;PU0,0;PD100,100;SC0,100,0,100,1;PU0,0;PD100,100;",
        "(1250,0)(6250,5000)|(2500,0)(7500,5000)");
    row("point factor", "IN;IP400,400;SC-10,2,-5,4,2;SP1;PU-10,-5;PD0,0;", "(1000,1000)(1050,1050)");
    row("IR, then no scaling", "IN;IR50,50,100,100;SC0,1,0,1;SP1;PU0,0;PD1,1;SC;PD40,0;",
        "(10500,14850)(21000,29700)(100,0)");
    row("relative moves in user units", "IN;IP0,0,800,400;SC0,10,0,10;SP1;PU0,0;PR;PD10,10;", "(0,0)(2000,1000)");
    row("DF turns scaling off", "IN;IP0,0,400,400;SC0,10,0,10;DF;SP1;PU0,0;PD10,10;", "(0,0)(25,25)");
    row("turns about the sheet", "RO90;SP1;PU0,0;PD400,0;RO180;PU0,0;PD400,0;RO270;PU0,0;PD400,0;RO;PU0,0;PD400,0;",
        "(21000,0)(21000,1000)|(21000,29700)(20000,29700)|(0,29700)(0,28700)|(0,0)(1000,0)");

    // The input window clips, in the file's units; what it leaves out is told.
    noted("input window", "IN;SP1;IW0,0,400,400;PU-400,200;PD800,200;IW;PD800,0;",
          "(0,500)(1000,500)|(2000,500)(2000,0)",
          {"Part of the plot lies outside the window the file sets (IW) and was not cut: 57.1 % of its length (20.0 "
           "of 35.0 mm)"});
    noted("input window in user units", "IN;SP1;IP0,0,400,400;SC0,10,0,10;IW0,0,5,5;PU0,0;PD10,10;", "(0,0)(500,500)",
          {"Part of the plot lies outside the window the file sets (IW) and was not cut: 50.0 % of its length (7.1 "
           "of 14.1 mm)"});
    row("all outside the window", "IN;SP1;IW0,0,10,10;PU100,100;PD200,200;", "",
        "has nothing to cut: all its lines lie outside the window it sets (IW)");

    // Points alone would be plunges of the knife that cut nothing; among
    // lines they stay as drawn.
    const QString noLength = QStringLiteral("has nothing to cut: it draws only points, no line, circle or arc of any "
                                            "length");
    row("one point", "PU4000,4000;PD4000,4000;", "", noLength);
    row("a line scaled to nothing", "IN;SC0,1e9,0,1e9;SP1;PU0,0;PD1000,1000;", "", noLength);
    row("a circle within a hundredth", "IN;SP1;PU100,100;CI0.1;", "", noLength);
    row("sample layout, one point", "PU415 1231;\nPD415 1231;\n", "", noLength);
    row("sample layout, moves only", "PU415 1231;\nPU0 0;\n", "",
        "has nothing to cut: it draws no line, circle or arc with the pen down");
    row("points among lines", "SP1;PU0,0;PD0,0;PU40,0;PD80,0;PD80,0;", "(0,0)(0,0)|(100,0)(200,0)(200,0)");

    // An arc past a whole turn leaves the pen where its sweep ends.
    row("arc past a turn, pen up", "IN;SP1;PU1000,0;AA600,-600,450;PD;PR0,-400;", "(0,-500)(0,-1500)");
    row("relative arc past a turn, clockwise, pen up", "IN;SP1;PU1000,0;AR-400,-600,-450;PD;PR0,-400;",
        "(3000,-2500)(3000,-3500)");

    // Polygons: closing edges drawn as the pen is, subpolygons; edged
    // wedges and rectangles (a wedge of radius 1: two chords), filled ones
    // counted.
    row("subpolygons", "IN;SP1;PU0,0;PM0;PD400,0,400,400;PM1;PU100,100;PD200,100;PU;PM2;EP;",
        "(0,0)(1000,0)(1000,1000)(0,0)|(250,250)(500,250)");
    noted("wedges and rectangles", "IN;SP1;PU400,400;EW1,0,90;PU0,0;RA400,400;ER-400,-400;WG10,0,45;",
          "(1000,1000)(1003,1000)(1002,1002)(1000,1003)(1000,1000)|(0,0)(-1000,0)(-1000,-1000)(0,-1000)(0,0)",
          {notCut("2 fills")});
    // Only what the chosen pens draw is cut, or counted.
    row("fills of other pens", "SP1;PU0,0;PM0;PD100,0,100,100;PM2;FP;EP;LBa\x03;SP2;PU0,0;PD4,0;", "(0,0)(10,0)", {},
        {2});
    row("only fills and labels", "IN;SP1;PU0,0;PM0;PD100,0,100,100;PM2;FP;PU0,500;LBabc\x03;", "",
        "has nothing to cut: its only drawing is 1 fill and 1 label, which a knife does not cut");

    // Labels move the pen as a plotter's: 1.5 character widths a character
    // (0.25 cm: 150 units) along DI, back to the carriage return point for
    // CR, a line (twice 0.5 cm) across for LF; CP moves by cells (0.187 x
    // 0.269 cm unless set); DT's terminator; BL and PB; SM's symbols.
    noted("label moves the pen", "IN;SP1;PU0,0;SI0.25,0.5;DI0,1;LBab\rc\nd\x03;PR;PD0,400;", "(1000,750)(1000,1750)",
          {notCut("1 label")});
    row("character moves", "IN;SP1;PU0,0;CP2,1;PD0,0;", "(561,-538)(0,0)");
    noted("buffered label", "IN;SP1;SI0.25,0.5;BLxyz\x03;PU0,0;PB;PD0,0;", "(1125,0)(0,0)", {notCut("1 label")});
    noted("label terminator", "IN;SP1;DT#;PU0,0;LBab;c#PD40,0;", "(1122,0)(100,0)", {notCut("1 label")});
    noted("symbols", "IN;SP1;SM*;PU0,0;PD40,0,80,0;SM;PD120,0;", "(0,0)(100,0)(200,0)(300,0)", {notCut("3 symbols")});

    // Numbers with an exponent, also where an instruction is passed over.
    row("exponents", "DI4.48966e-09,100;SP1;PU0,0;PD4e1,0,4.0E+1,4e0,400e-1,1E1;PW1e-3;",
        "(0,0)(100,0)(100,10)(100,25)");

    // A NUL ends the text only when nothing but NULs follows.
    row("NUL with more after it", QByteArray("IN;SP1;PU4000,4000;PD4400,4000;\0PU5000,5000;PD6000,6000;", 56), "",
        "Unexpected NUL byte at line 1, column 32: a plot file holds text, and the text goes on after it");
    row("NULs to the end", QByteArray("SP1;PU0,0;PD4,0;\0\0\0", 19), "(0,0)(10,0)");
    row("sample layout, NUL, more", QByteArray("PU1 1;\n\0PU2 2;\n", 15), "",
        "Unexpected NUL byte at line 2, column 1: a plot file holds text, and the text goes on after it");

    // Refused, with the instruction and where it stands.
    row("scaling of three numbers", "SC0,100,0;", "",
        "The HPGL instruction \"SC0,100,0\" at line 1, column 1 takes 4, 5 or 7 numbers");
    row("scaling an axis to nothing", "SC0,0,0,100;", "",
        "The HPGL instruction \"SC0,0,0,100\" at line 1, column 1 scales an axis to nothing");
    row("rotation by 45", "RO45;", "",
        "The HPGL instruction \"RO45\" at line 1, column 1 turns by other than 0, 90, 180 or 270 degrees");
    row("rectangle inside a polygon", "PM0;PD1,1;EA4,4;PM2;", "",
        "The HPGL instruction \"EA\" at line 1, column 11 cannot stand inside the polygon begun (PM) at line 1, "
        "column 1");
    row("polygon never ended", "SP1;PU0,0;PM0;PD4,4;", "",
        "The polygon (PM) at line 1, column 11 is never ended, so its outline is never cut");
    row("label without its end", "SP1;PU0,0;PD4,0;LBabc", "",
        "The HPGL label \"LB\" at line 1, column 17 has no terminator: the rest of the file would be its text");
    row("exponent without digits", "SP1;PD1.5e+,0;", "",
        "The HPGL instruction \"PD1.5\" at line 1, column 5 has an X coordinate without its Y");
    row("unknown", "PU0,0;ZZ1;", "",
        unsupported.arg("ZZ", "1, column 7", "it is not an instruction this program reads"));
    row("new sheet before more cutting", "PU0,0;PD4,0;PG;PU0,0;PD4,0;", "",
        unsupported.arg("PG", "1, column 13", "it starts a new sheet, and the plot goes on after it"));
    row("malformed number", "PU0,0;PD1.2.3,4;", "",
        "The HPGL instruction \"PD1.2.3,4\" at line 1, column 7 has a malformed number: \"1.2.3\"");
    row("two commas", "PD1,,2;", "",
        "The HPGL instruction \"PD1,,2\" at line 1, column 1 has a malformed number: \",\"");
    row("lone coordinate", "PU0,0;PD10,20,30;", "",
        "The HPGL instruction \"PD10,20,30\" at line 1, column 7 has an X coordinate without its Y");
    row("circle without radius", "CI;", "", "The HPGL instruction \"CI\" at line 1, column 1 needs a radius");
    row("encoded X without its Y", "PU0,0;\nPE" + PeNumbers({4}) + "A!;", "",
        "The HPGL instruction \"PE\" at line 2, column 1 has \"!\" where it needs the Y of its last X");
    row("too many numbers", "CI1,2,3;", "",
        "The HPGL instruction \"CI1,2,3\" at line 1, column 1 has more numbers than it takes");
    row("out of range", "PU0,0;PD858993459,0", "",
        "The HPGL instruction \"PD858993459,0\" at line 1, column 7 goes out of range for a plot coordinate");
    row("not an instruction", "PU0,0;\n 1,2;", "",
        "Unexpected \"1,\" at line 2, column 2: an HPGL instruction starts with two letters");
    // Circles from a few bytes each, beyond what a small file may take.
    row("curves too large", QByteArray("CI800000000;").repeated(50), "",
        "is too large to cut: its lines and curves need more than 64 MiB");
    row("long instruction cut", "PD1," + QByteArray(100, '2') + ".5.", "",
        "The HPGL instruction \"PD1," + QString(60, u'2') + QChar(0x2026)
            + "\" at line 1, column 1 has a malformed "
              "number: \""
            + QString(64, u'2') + QChar(0x2026) + "\"");
}

void TestPlotReader::hpglFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, pens);
    QFETCH(QString, plot);
    QFETCH(QString, error);
    QFETCH(QStringList, notices);

    TPLT store;
    ReadPlotText(store, {"PU1 1;"});
    const QString before = Describe(store);
    try {
        const QStringList told = QStrings(ReadPlotFile(store, FileBytes(WriteFile(content.replace("ESC", "\x1B"))),
                                                       std::span<const int>(pens.data(), pens.size())));
        QCOMPARE(QString(), error);
        QCOMPARE(Describe(store), plot);
        QCOMPARE(told, notices);
    } catch (const EConvertError& e) {
        QCOMPARE(QStr(e.Message()), error);
        QCOMPARE(Describe(store), before);
    } catch (const EFileError& e) {
        QVERIFY2(!error.isEmpty() && QStr(e.Message()).endsWith(error), e.Message().c_str());
        QCOMPARE(Describe(store), before);
    }
}

// Every chord of a circle or arc lies within 0.01 mm of the true curve, the
// curve runs the right way and ends where it should.
void TestPlotReader::curvesAreCutWithinAHundredth_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QPointF>("centre"); // plotter units
    QTest::addColumn<double>("radius");  // plotter units
    QTest::addColumn<QPointF>("start");  // plotter units
    QTest::addColumn<double>("sweep");   // degrees, counter-clockwise
    QTest::newRow("small circle") << QByteArray("PA100,100;CI8") << QPointF(100, 100) << 8.0 << QPointF(108, 100)
                                  << 360.0;
    QTest::newRow("large circle") << QByteArray("PA0,0;CI40000,5") << QPointF(0, 0) << 40000.0 << QPointF(40000, 0)
                                  << 360.0;
    QTest::newRow("negative radius starts opposite")
        << QByteArray("PA0,0;CI-400") << QPointF(0, 0) << 400.0 << QPointF(-400, 0) << 360.0;
    QTest::newRow("absolute arc") << QByteArray("PU400,0;PD;AA0,0,90") << QPointF(0, 0) << 400.0 << QPointF(400, 0)
                                  << 90.0;
    QTest::newRow("relative arc, clockwise") << QByteArray("PU400,0;PD;AR-400,-400,-135") << QPointF(0, -400)
                                             << 400.0 * std::sqrt(2.0) << QPointF(400, 0) << -135.0;
    // Past a whole turn the knife goes on round, as a plotter's pen does.
    QTest::newRow("sweep beyond a turn") << QByteArray("PU400,0;PD;AA0,0,500") << QPointF(0, 0) << 400.0
                                         << QPointF(400, 0) << 500.0;
    QTest::newRow("relative arc, clockwise beyond a turn")
        << QByteArray("PU1000,0;PD;AR-400,-600,-450") << QPointF(600, -600) << std::hypot(400.0, 600.0)
        << QPointF(1000, 0) << -450.0;
    // In user units (here 40 plotter units each), a mirrored x turning the
    // arc the other way on the sheet.
    QTest::newRow("circle, scaled") << QByteArray("IN;IP0,0,400,400;SC0,10,0,10;PA5,5;CI5") << QPointF(200, 200)
                                    << 200.0 << QPointF(400, 200) << 360.0;
    QTest::newRow("arc, x mirrored") << QByteArray("IN;IP0,0,400,400;SC10,0,0,10;PU10,5;PD;AA5,5,90")
                                     << QPointF(200, 200) << 200.0 << QPointF(0, 200) << -90.0;
    // Béziers close to a quarter circle (0.0003 mm off it at this radius).
    QTest::newRow("Bezier") << QByteArray("PU40,0;PD;BZ40,22.0914,22.0914,40,0,40") << QPointF(0, 0) << 40.0
                            << QPointF(40, 0) << 90.0;
    QTest::newRow("Bezier, relative") << QByteArray("PU40,0;PD;BR0,22.0914,-17.9086,40,-40,40") << QPointF(0, 0) << 40.0
                                      << QPointF(40, 0) << 90.0;
}

void TestPlotReader::curvesAreCutWithinAHundredth()
{
    QFETCH(QByteArray, content);
    QFETCH(QPointF, centre);
    QFETCH(double, radius);
    QFETCH(QPointF, start);
    QFETCH(double, sweep);

    TPLT store;
    ReadPlotFile(store, FileBytes(WriteFile(content)));
    QCOMPARE(store.NPolygons(), 1);
    const auto points = store.Polygons()[0].Points;
    QVERIFY(points.size() >= 5);
    const auto mm = [](QPointF units) { return units / 40; };
    const auto at = [](TPoint p) { return QPointF(p.X, p.Y) / 100; };
    const QPointF c = mm(centre);
    const double r = radius / 40;
    double worst = 0;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const QPointF a = at(points[i]), b = at(points[i + 1]);
        worst = std::max({worst, std::abs(QLineF(c, a).length() - r), std::abs(QLineF(c, (a + b) / 2).length() - r)});
        // Each step turns the same way as the sweep.
        const double cross = (a.x() - c.x()) * (b.y() - c.y()) - (a.y() - c.y()) * (b.x() - c.x());
        QVERIFY(sweep > 0 ? cross > 0 : cross < 0);
    }
    QVERIFY2(worst <= 0.01, qPrintable(QString::number(worst)));
    const double end = std::atan2(start.y() - centre.y(), start.x() - centre.x()) + sweep * M_PI / 180;
    QVERIFY(QLineF(at(points.front()), mm(start)).length() <= 0.0075);
    QVERIFY(QLineF(at(points.back()), c + r * QPointF(std::cos(end), std::sin(end))).length() <= 0.0075);
}

QTEST_APPLESS_MAIN(TestPlotReader)
#include "test_plot_reader.moc"
