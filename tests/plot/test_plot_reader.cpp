#include "common/Exceptions.h"
#include "platform/PlotFile.h"
#include "plot/PlotTextReader.h"
#include "tests/support/PlotFileLines.h"

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
        return e.Message();
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
    void oversizedFileIsRefusedUnread();
    void outOfMemoryKeepsTheStore();

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
    QCOMPARE(ConvertFailure([&] { ReadPlotText(store, lines); }), error);
    QCOMPARE(Describe(store), plot);

    // The same lines read from a file go through the byte-level parser.
    TPLT fromFile;
    const QString path = WriteFile(lines.join(u'\n').toUtf8());
    QCOMPARE(ConvertFailure([&] { ReadPlotFile(fromFile, path); }), error);
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

    ReadPlotFile(store, WriteFile(""));
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
    ReadPlotFile(fromFile, path);
    ReadPlotText(fromLines, lines);
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
    QCOMPARE(ConvertFailure([&] { ReadPlotFile(store, WriteFile(content)); }), error);
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
        ReadPlotFile(store, path);
        QFAIL("no error raised");
    } catch (const EFileError& e) {
        QCOMPARE(e.Message(), expected);
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
        ReadPlotFile(store, QStringLiteral("missing.plt"));
    } catch (const EFOpenError& e) {
        message = e.Message();
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
        ReadPlotFile(store, path);
        QFAIL("no error raised");
    } catch (const EFOpenError& e) {
        QCOMPARE(e.Message(), QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    }
    QCOMPARE(Describe(store), QStringLiteral("(2,2)"));
}

void TestPlotReader::oversizedFileIsRefusedUnread()
{
    // Sparse, so the test costs no disk; refused on its size alone.
    const QString path = WriteFile("PU1 1;\n", QStringLiteral("big%1.plt"));
    QVERIFY(QFile::resize(path, MaxPlotFileSize + 1));
    try {
        TPLT store;
        ReadPlotFile(store, path);
        QFAIL("no error raised");
    } catch (const EFileError& e) {
        QCOMPARE(e.Message(), "The file \"" + path + "\" is too large to be a plot file (the limit is 160 MiB)");
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
        ReadPlotData(store, content, QStringLiteral("huge%1.plt"));
    } catch (const EOutOfMemory& e) {
        message = e.Message();
    }
    ::setrlimit(RLIMIT_AS, &saved);

    QCOMPARE(message, QStringLiteral("Out of memory while reading the file \"huge%1.plt\""));
    QCOMPARE(Describe(store), QStringLiteral("(2,2)"));
#endif
}

QTEST_APPLESS_MAIN(TestPlotReader)
#include "test_plot_reader.moc"
