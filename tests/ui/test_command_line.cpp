// The command line against a private CUPS server: jobs written to files and
// decoded back, jobs on a queue, and bad input that must leave nothing.

#include "tests/support/PlotterDecoder.h"
#include "tests/support/PrivateCupsServer.h"
#include "ui/CommandLine.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SendAs)

namespace {

constexpr double SampleW = 111.17;
constexpr double SampleH = 32.79;

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// Bounds of every decoded point, in mm: left, lowest, right, highest.
QRectF Extent(const std::vector<std::vector<QPointF>>& paths)
{
    double l = 1e9, b = 1e9, r = -1e9, t = -1e9;
    for (const auto& path : paths)
        for (const QPointF& p : path) {
            l = std::min(l, p.x()), r = std::max(r, p.x());
            b = std::min(b, p.y()), t = std::max(t, p.y());
        }
    return QRectF(QPointF(l, b), QPointF(r, t));
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cutsToFile_data();
    void cutsToFile();
    void badInputLeavesNothing_data();
    void badInputLeavesNothing();
    void cutsOnDevice();
    void waitsForTheJob_data();
    void waitsForTheJob();
    void cutsOnPort();
    void progressOnlyOnATerminal_data();
    void progressOnlyOnATerminal();
    void helpAndVersion();
    void programNeedsNoDisplay();

private:
    int Run(const QStringList& args, QString* err = nullptr, QString* out = nullptr);
    QString Path(const QString& name) const { return FDir.filePath(name); }

    std::unique_ptr<PrivateCupsServer> FServer;
    QTemporaryDir FDir;
};

void TestCommandLine::initTestCase()
{
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->addRawQueue(QStringLiteral("RawCutter")));
    QVERIFY(FDir.isValid());
    // Several instructions to a line: the reader takes none of them.
    Write(Path(QStringLiteral("one-line.plt")), "IN;SP1;PU0,0;PD1000,0;PD1000,1000;SP0;\n");
    // A 2 x 1 inch rectangle, one instruction per line.
    Write(Path(QStringLiteral("box.plt")), "IN;\nPU0 0;\nPD2000 0;\nPD2000 1000;\nPD0 1000;\nPD0 0;\n");
}

int TestCommandLine::Run(const QStringList& args, QString* err, QString* out)
{
    QString errText, outText;
    QStringList all{QStringLiteral("vellico-output-test")};
    for (QString a : args)
        all << a.replace(QStringLiteral("$DIR"), FDir.path());
    int code = 0;
    {
        QTextStream errStream(&errText), outStream(&outText);
        code = RunCommandLine(all, outStream, errStream);
    }
    if (err)
        *err = errText;
    if (out)
        *out = outText;
    return code;
}

// Each job is decoded back: the sample's (or the file's) paths and size, and
// the corner the position puts on the chosen sheet, with no margins.
void TestCommandLine::cutsToFile_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<int>("paths");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QPointF>("leftTop");

    const QSizeF sample(SampleW, SampleH);
    QTest::newRow("hpgl, default place on the queue's A4")
        << QStringList{"--send-as", "hpgl"} << SendAs::HPGL << 51 << sample << QPointF(0, 297);
    QTest::newRow("Letter, top right by index")
        << QStringList{"--send-as", "HPGL", "--sheet", "Letter", "--position", "3"} << SendAs::HPGL << 51 << sample
        << QPointF(215.9 - SampleW, 279.4);
    QTest::newRow("roll, top right by text")
        << QStringList{"--send-as", "hpgl", "--sheet", "600x1000", "--position", "Top right"} << SendAs::HPGL << 51
        << sample << QPointF(600 - SampleW, 1000);
    // The top edge of a centred plot sits at half the sheet's height.
    QTest::newRow("gpgl, centred") << QStringList{"--send-as", "gpgl", "--position", "Centered"} << SendAs::GPGL << 51
                                   << sample << QPointF((210 - SampleW) / 2, 297.0 / 2);
    QTest::newRow("plot file, replacing a file")
        << QStringList{"--send-as", "camm", "--position", "0", "--replace", "$DIR/box.plt"} << SendAs::CAMMGL << 1
        << QSizeF(50.8, 25.4) << QPointF(0, 25.4);
}

void TestCommandLine::cutsToFile()
{
    QFETCH(QStringList, args);
    QFETCH(SendAs, language);
    QFETCH(int, paths);
    QFETCH(QSizeF, size);
    QFETCH(QPointF, leftTop);

    const QString out = Path(QStringLiteral("job.out"));
    QFile::remove(out);
    if (args.contains(QStringLiteral("--replace")))
        Write(out, "an older job");
    QString err;
    QCOMPARE(Run(QStringList{"--cut", "--output", out} + args, &err), 0);
    QCOMPARE(err, QString());

    const QByteArray job = ReadAll(out);
    if (language == SendAs::HPGL)
        QVERIFY(job.startsWith("IN;"));
    QString error;
    const auto decoded = DecodePlotterJob(language, job, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(int(decoded.size()), paths);

    // A plotter unit either way for a size, half of one plus the placement's
    // hundredth of a millimetre for a place.
    const double unit = 1 / PlotterUnitsPerMm(language);
    const QRectF e = Extent(decoded);
    QVERIFY2(std::abs(e.width() - size.width()) <= unit && std::abs(e.height() - size.height()) <= unit,
             qPrintable(QStringLiteral("%1 x %2 mm").arg(e.width()).arg(e.height())));
    QVERIFY2(std::abs(e.left() - leftTop.x()) <= unit / 2 + 0.01
                 && std::abs(e.bottom() - leftTop.y()) <= unit / 2 + 0.01,
             qPrintable(QStringLiteral("left %1, top %2").arg(e.left()).arg(e.bottom())));
}

// Each refused before any job: a message on standard error, a non-zero exit,
// and the output file absent (or as it was).
void TestCommandLine::badInputLeavesNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const QStringList file{"--cut", "--send-as", "hpgl", "--output", "$DIR/bad.out"};
    QTest::newRow("unknown language") << QStringList{"--cut", "--send-as", "svg", "--output", "$DIR/bad.out"} << 2
                                      << "Unknown language \"svg\" for --send-as";
    QTest::newRow("position text") << file + QStringList{"--position", "Top middle"} << 2
                                   << "\"Top middle\" is not a position";
    QTest::newRow("position 9") << file + QStringList{"--position", "9"} << 2 << "Position 9 is not in the list";
    QTest::newRow("sheet zero") << file + QStringList{"--sheet", "0x1000"} << 2 << "\"0x1000\" is not a sheet";
    QTest::newRow("sheet huge") << file + QStringList{"--sheet", "600x60000"} << 2 << "is not a sheet";
    QTest::newRow("no --cut") << QStringList{"--output", "$DIR/bad.out"} << 2 << "Nothing to do without --cut";
    QTest::newRow("missing folder") << QStringList{"--cut", "--output", "$DIR/none/bad.out"} << 1
                                    << "Its folder does not exist";
    QTest::newRow("existing file") << QStringList{"--cut", "--output", "$DIR/kept.out"} << 1 << "already exists";
    QTest::newRow("one-line plot") << file + QStringList{"$DIR/one-line.plt"} << 1
                                   << "one-line.plt\" has nothing to cut";
    QTest::newRow("missing plot") << file + QStringList{"$DIR/absent.plt"} << 1 << "absent.plt";
    QTest::newRow("unknown device") << QStringList{"--cut", "--device", "NoSuchCutter"} << 1
                                    << "There is no printer named \"NoSuchCutter\"";
    QTest::newRow("driver paper the queue lacks")
        << QStringList{"--cut", "--device", "TestCutter", "--send-as", "driver", "--sheet", "600x1000"} << 1
        << "has no 600 x 1000 mm paper";
    const QStringList port{"--cut", "--device", "/dev/ttyUSB-vellico-unplugged"};
    QTest::newRow("unplugged port") << port << 1 << "is not there";
    QTest::newRow("port line with 9 bits")
        << port + QStringList{"--port-settings", "9600,9,N,1,none"} << 2 << "\"9600,9,N,1,none\" is not a port setting";
    QTest::newRow("port line for a queue")
        << QStringList{"--cut", "--device", "RawCutter", "--port-settings", "9600,8,N,1,none"} << 2
        << "--port-settings is for a cutter on a port";
    QTest::newRow("driver on a port") << port + QStringList{"--send-as", "driver"} << 2
                                      << "A cutter on a port takes a cutter language";
}

void TestCommandLine::badInputLeavesNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);

    const QString kept = Path(QStringLiteral("kept.out"));
    Write(kept, "keep me");
    QString err;
    QCOMPARE(Run(args, &err), code);
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(err.contains(QStringLiteral("--help")), code == 2);
    QVERIFY(!QFile::exists(Path(QStringLiteral("bad.out"))));
    QCOMPARE(ReadAll(kept), QByteArray("keep me"));
    // No half-written job beside the files the tests made.
    QStringList others = QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const char* made : {"kept.out", "job.out", "box.plt", "one-line.plt"})
        others.removeAll(QString::fromLatin1(made));
    QCOMPARE(others, QStringList());
}

// Without --output the job goes to the queue: the default one through its
// driver, a named raw one in HPGL (its default) that decodes to the sample.
// Until now every job went to a file or was refused: the server has none.
void TestCommandLine::cutsOnDevice()
{
    QTest::qWait(300);
    QCOMPARE(FServer->jobFiles().size() + FServer->rawJobFiles().size(), 0);
    QCOMPARE(Run({"--cut"}), 0);
    QVERIFY(FServer->waitForJobFiles(1));
    QString err;
    QCOMPARE(Run({"--cut", "--device", "rawcutter", "--position", "Middle Top"}, &err), 0);
    QCOMPARE(err, QString());
    QVERIFY(FServer->waitForRawJobFiles(1));
    QString error;
    const auto decoded = DecodePlotterJob(SendAs::HPGL, ReadAll(FServer->rawJobFiles().last()), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(int(decoded.size()), 51);

    QTest::qWait(300);
    QCOMPARE(FServer->jobFiles().size() + FServer->rawJobFiles().size(), 2);
}

void TestCommandLine::waitsForTheJob_data()
{
    QTest::addColumn<QString>("policy"); // empty: the queue that keeps its jobs
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString missing = QStringLiteral("Unable to open serial port: No such file or directory.\n");
    QTest::newRow("aborted") << "abort-job" << 1 << QStringLiteral("was aborted: ") + missing;
    QTest::newRow("queue stopped") << "stop-printer" << 1 << QStringLiteral("inside: ") + missing;
    QTest::newRow("completed") << "" << 0 << "";
}

// --wait follows the job on the queue to its end: the server's reason when
// the cutter is not there, success only once the job is done.
void TestCommandLine::waitsForTheJob()
{
    QFETCH(QString, policy);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString queue = policy.isEmpty() ? QStringLiteral("RawCutter") : policy;
    if (!policy.isEmpty())
        QVERIFY(FServer->addRawQueue(queue, QStringLiteral("serial:/dev/ttyVellicoNone"), policy));
    const int kept = int(FServer->rawJobFiles().size());
    QString err;
    QCOMPARE(Run({"--cut", "--wait", "--device", queue}, &err), code);
    QVERIFY2(message.isEmpty() ? err.isEmpty() : err.endsWith(message), qPrintable(err));
    // Done means done: the job is already at the cutter.
    QCOMPARE(int(FServer->rawJobFiles().size()), kept + (code == 0 ? 1 : 0));
    FServer->cancelAll();
}

// A pseudo-terminal as the cutter: the sample arrives in HPGL (a port's
// default) and the line is left as --port-settings set it.
void TestCommandLine::cutsOnPort()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString path = QString::fromLocal8Bit(::ptsname(master));
    // Held open, so the master keeps what was sent after the program closes.
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(slave >= 0);
    QString err;
    const int code = Run({"--cut", "--device", path, "--port-settings", "19200,7,E,2,none"}, &err);
    termios line{};
    ::tcgetattr(slave, &line);
    QByteArray job;
    char buffer[4096];
    for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 200) > 0 && (p.revents & POLLIN);) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        job.append(buffer, n > 0 ? n : 0);
    }
    ::close(slave);
    ::close(master);
    QCOMPARE(code, 0);
    QCOMPARE(err, QString());
    QString error;
    QCOMPARE(int(DecodePlotterJob(SendAs::HPGL, job, &error).size()), 51);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(::cfgetospeed(&line), speed_t(B19200));
    // A pseudo-terminal keeps the speed and stop bits; it forces 8 bits, no parity.
    QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(CSTOPB));
}

void TestCommandLine::progressOnlyOnATerminal_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("shown");
    QTest::newRow("terminal") << QStringList() << true;
    QTest::newRow("--quiet") << QStringList{"--quiet"} << false;
}

// The program itself, its standard error on a terminal, cutting on a port
// that reads nothing for a while: one progress line, wiped at the end.
void TestCommandLine::progressOnlyOnATerminal()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, shown);
    const QString plot = Path(QStringLiteral("large.plt"));
    if (!QFile::exists(plot)) {
        QByteArray text;
        for (int i = 0; i < 50000; ++i)
            text += QByteArray(i % 2 ? "PD" : "PU") + QByteArray::number(i % 8000) + ' ' + QByteArray::number(i % 97)
                    + ";\n";
        Write(plot, text);
    }
    int cutter[2], terminal[2]; // master, slave
    for (int* pty : {cutter, terminal}) {
        pty[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(pty[0] >= 0 && ::grantpt(pty[0]) == 0 && ::unlockpt(pty[0]) == 0);
        pty[1] = ::open(::ptsname(pty[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(pty[1] >= 0);
    }
    QList<QByteArray> args{VELLICO_PROGRAM,      "--cut",           "--device",
                           ::ptsname(cutter[0]), "--port-settings", "115200,8,N,1,none"};
    for (const QString& a : extra + QStringList{plot})
        args << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, terminal[1], STDERR_FILENO);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    QCOMPARE(spawned, 0);

    // The cutter starts reading after a while; the terminal is read throughout.
    QByteArray shownText;
    char buffer[65536];
    int status = 0;
    QElapsedTimer t;
    t.start();
    while (::waitpid(pid, &status, WNOHANG) == 0 && t.elapsed() < 30000) {
        for (pollfd p{terminal[0], POLLIN, 0}; ::poll(&p, 1, 10) > 0 && (p.revents & POLLIN);)
            shownText.append(buffer, std::max<qsizetype>(0, ::read(terminal[0], buffer, sizeof buffer)));
        if (t.elapsed() > 800)
            for (pollfd p{cutter[0], POLLIN, 0}; ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);)
                (void)!::read(cutter[0], buffer, sizeof buffer);
    }
    for (pollfd p{terminal[0], POLLIN, 0}; ::poll(&p, 1, 50) > 0 && (p.revents & POLLIN);)
        shownText.append(buffer, std::max<qsizetype>(0, ::read(terminal[0], buffer, sizeof buffer)));
    for (int* pty : {cutter, terminal})
        ::close(pty[1]), ::close(pty[0]);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(shownText.contains("\rSending: "), shown);
    if (shown) {
        QVERIFY2(shownText.contains(" KiB sent"), shownText.constData());
        QVERIFY(shownText.endsWith("\r\033[K"));
    } else {
        QCOMPARE(shownText, QByteArray());
    }
}

void TestCommandLine::helpAndVersion()
{
    QString out;
    QCOMPARE(Run({"--help"}, nullptr, &out), 0);
    QVERIFY(out.contains(QStringLiteral("--send-as")));
    QCOMPARE(Run({"--version"}, nullptr, &out), 0);
    QCOMPARE(out, QStringLiteral("Vellico Output Test 1.02\n"));
}

// The installed program, with no display and no platform plugin named: the
// job comes out on standard output, and the window never starts.
void TestCommandLine::programNeedsNoDisplay()
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VELLICO_PROGRAM), {"--cut", "--send-as", "dmpl", "--output", "-"});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.readAllStandardError(), QByteArray());
    QCOMPARE(program.exitCode(), 0);
    QString error;
    QCOMPARE(int(DecodePlotterJob(SendAs::DMPL, program.readAllStandardOutput(), &error).size()), 51);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
