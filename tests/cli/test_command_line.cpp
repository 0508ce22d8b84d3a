// The command line against a private CUPS server: jobs written to files and
// decoded back, jobs on a queue, and bad input that must leave nothing.

#include "cli/CommandLine.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobFile.h"
#include "plot/SampleText.h"
#include "tests/support/EncodedPolyline.h"
#include "tests/support/PlayedCutter.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/PrivateCupsServer.h"
#include "tests/support/SlowProxy.h"
#include "tests/support/StdText.h"
#include "ui/NativeFileName.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SendAs)
Q_DECLARE_METATYPE(ToolSetting)

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

using Paths = std::vector<std::vector<QPointF>>;

// What stands at path, a link not followed: its kind, and a file's bytes.
QByteArray Standing(const QString& path)
{
    const QFileInfo info(path);
    struct stat st {};
    if (info.isSymLink())
        return "link to " + QFile::encodeName(info.symLinkTarget());
    if (info.isDir())
        return "folder";
    if (info.isFile())
        return "file " + ReadAll(path);
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return S_ISFIFO(st.st_mode) ? "pipe" : "other";
    return "nothing";
}

// What the dynamic loader wrote under LD_DEBUG=files to prefix.<pid>.
QByteArray LoadedLibraries(const QString& prefix)
{
    const QFileInfo info(prefix);
    QByteArray all;
    for (const QString& name : QDir(info.path()).entryList({info.fileName() + QStringLiteral(".*")}, QDir::Files))
        all += ReadAll(info.dir().filePath(name));
    return all;
}

// Writes of this process past bytes fail with EFBIG while it lives, instead
// of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        if (bytes == RLIM_INFINITY || ::getrlimit(RLIMIT_FSIZE, &FSaved) != 0)
            return;
        FSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = FSaved;
        small.rlim_cur = bytes;
        FSet = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        if (!FSet)
            return;
        ::setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FSignal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit FSaved{};
    void (*FSignal)(int) = SIG_DFL;
    bool FSet = false;
};

double Distance(QPointF p, QPointF a, QPointF b)
{
    const QPointF d = b - a;
    const double length2 = QPointF::dotProduct(d, d);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / length2, 0.0, 1.0) : 0.0;
    return QLineF(p, a + t * d).length();
}

// How far the farthest point of one drawing lies from every line of the
// other, in mm. Lines are looked up through a grid of 2 mm cells.
double Farthest(const Paths& from, const Paths& to)
{
    constexpr double cell = 2, pad = 0.1;
    const auto index = [](double v) { return int(std::floor(v / cell)); };
    const auto key = [](int x, int y) { return (quint64(quint32(x)) << 32) | quint32(y); };
    QHash<quint64, QList<QLineF>> grid;
    for (const auto& path : to)
        for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            const QRectF box = QRectF(path[i], path[i + 1]).normalized().adjusted(-pad, -pad, pad, pad);
            for (int x = index(box.left()); x <= index(box.right()); ++x)
                for (int y = index(box.top()); y <= index(box.bottom()); ++y)
                    grid[key(x, y)].append(QLineF(path[i], path[i + 1]));
        }
    double worst = 0;
    for (const auto& path : from)
        for (const QPointF& p : path) {
            double best = 1e9;
            for (const QLineF& l : grid.value(key(index(p.x()), index(p.y()))))
                best = std::min(best, Distance(p, l.p1(), l.p2()));
            worst = std::max(worst, best);
        }
    return worst;
}

// What hp2xx draws from an HP-GL file: its lines in mm at true size, moved
// so that the lowest, leftmost corner of the drawing is the origin.
Paths DrawnByHp2xx(const QString& file)
{
    QProcess hp2xx;
    hp2xx.start(QStringLiteral("hp2xx"),
                {"-q", "-t", "-x", "-40", "-y", "-40", "-X", "40000", "-Y", "40000", "-m", "gpt", "-f", "-", file});
    if (!hp2xx.waitForFinished(60000))
        return {};
    Paths paths;
    bool penDown = false;
    for (const QByteArray& line : hp2xx.readAllStandardOutput().split('\n')) {
        if (line.startsWith('#')) {
            penDown = line.startsWith("#PD");
            continue;
        }
        const QList<QByteArray> xy = line.simplified().split(' ');
        if (xy.size() != 2)
            continue;
        const QPointF p(xy[0].toDouble(), xy[1].toDouble());
        if (!penDown || paths.empty())
            paths.push_back({});
        paths.back().push_back(p);
    }
    std::erase_if(paths, [](const auto& path) { return path.size() < 2; });
    const QRectF e = Extent(paths);
    for (auto& path : paths)
        for (QPointF& p : path)
            p -= e.topLeft();
    return paths;
}

// Moves with the pen up and down at random, in short steps, absolute and
// relative, blanks or commas between the numbers.
QByteArray RandomPlot(int instructions)
{
    QRandomGenerator random(15);
    QByteArray text = "IN;SP1;PU400,400;PD440,400;";
    int x = 400, y = 400;
    for (int i = 0; i < instructions; ++i) {
        const int dx = random.bounded(-400, 401), dy = random.bounded(-400, 401);
        const bool inside = x + dx >= 400 && x + dx <= 8400 && y + dy >= 400 && y + dy <= 8400;
        const char separator = random.bounded(2) ? ',' : ' ';
        if (!inside || random.bounded(8) == 0) {
            x = random.bounded(400, 8401), y = random.bounded(400, 8401);
            text += "PU" + QByteArray::number(x) + separator + QByteArray::number(y) + ";";
        } else if (random.bounded(2)) {
            x += dx, y += dy;
            text += "PD" + QByteArray::number(x) + separator + QByteArray::number(y) + ";";
        } else {
            x += dx, y += dy;
            text += "PR;PD" + QByteArray::number(dx) + separator + QByteArray::number(dy) + ";PA;";
        }
    }
    return text + "PU;SP0;";
}

// Starts the program itself with its standard error on errFd. Given a
// terminal, the program runs in a session of its own with that terminal as
// its controlling terminal (held on a descriptor that is no standard stream).
pid_t Spawn(const QStringList& args, int errFd, const QByteArray& terminal = {})
{
    QList<QByteArray> all{VELLICO_PROGRAM};
    for (const QString& a : args)
        all << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, errFd, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (!terminal.isEmpty()) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_addopen(&files, 10, terminal.constData(), O_RDWR, 0);
    }
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// Whether the process has its own handler for the signal yet.
bool Catches(pid_t pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

QByteArray ReadAvailable(int fd, int waitMs)
{
    QByteArray bytes;
    char buffer[65536];
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN);) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

// Waits for the program to end, reading fd meanwhile; its wait status.
int Finish(pid_t pid, int fd, QByteArray& read)
{
    int status = -1;
    QElapsedTimer t;
    t.start();
    while (::waitpid(pid, &status, WNOHANG) == 0 && t.elapsed() < 40000)
        read += ReadAvailable(fd, 10);
    read += ReadAvailable(fd, 100);
    return status;
}

// A pseudo-terminal pair; the slave held open by the test too.
struct Terminal {
    int Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    int Slave = Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0
                    ? ::open(::ptsname(Master), O_RDWR | O_NOCTTY | O_CLOEXEC)
                    : -1;
    QByteArray Path = Slave >= 0 ? QByteArray(::ptsname(Master)) : QByteArray();
    ~Terminal()
    {
        if (Slave >= 0)
            ::close(Slave);
        if (Master >= 0)
            ::close(Master);
    }
};

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cutsToFile_data();
    void cutsToFile();
    void badInputLeavesNothing_data();
    void badInputLeavesNothing();
    void correctionsKeptOnlyWithSave();
    void savesOnlyWhatReachesTheFile_data();
    void savesOnlyWhatReachesTheFile();
    void keptInTheDevicesLanguageAndToldOnce_data();
    void keptInTheDevicesLanguageAndToldOnce();
    void parallelSavesKeepEveryDevice();
    void hpglFilesCutAsHp2xxDrawsThem_data();
    void hpglFilesCutAsHp2xxDrawsThem();
    void ownHpglJobsCutAgainAlike_data();
    void ownHpglJobsCutAgainAlike();
    void cutsOnDevice();
    void waitsForTheJob_data();
    void waitsForTheJob();
    void cutsOnPort();
    void progressOnlyOnATerminal_data();
    void progressOnlyOnATerminal();
    void signalEndsTheJobAsStopDoes_data();
    void signalEndsTheJobAsStopDoes();
    void ownTerminalIsNoPort_data();
    void ownTerminalIsNoPort();
    void checksTheLineToEachCutter_data();
    void checksTheLineToEachCutter();
    void identifiesTheCutter();
    void writesPipesAndDevicesAsTheyAre();
    void aFileMadeDuringTheCutIsKept();
    void fileNamesKeepTheirBytes();
    void helpAndVersion();
    void programNeedsNoDisplay();
    void windowOpensFromTheProgram();

private:
    int Run(const QStringList& args, QString* err = nullptr, QString* out = nullptr);
    // The installed program, with no display and no platform plugin named.
    int RunProgram(const QStringList& args, QString* err, QByteArray* out = nullptr);
    QString Path(const QString& name) const { return FDir.filePath(name); }
    // 50,000 moves, up and down by turns, in the sample's layout: a job a
    // terminal's buffer cannot hold.
    QString MovesPlot();

    std::unique_ptr<PrivateCupsServer> FServer;
    QTemporaryDir FDir;
    // Under /dev, where any name passes for a port: a user's file, and a
    // disk's node where nodes can be made.
    QTemporaryDir FDev{QStringLiteral("/dev/shm/vellico-XXXXXX")};
};

void TestCommandLine::initTestCase()
{
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->addRawQueue(QStringLiteral("RawCutter")));
    QVERIFY(FDir.isValid());
    // Instructions, but none that cuts.
    Write(Path(QStringLiteral("one-line.plt")), "IN;SP1;PU1000,1000;SP0;\n");
    Write(Path(QStringLiteral("scaled.plt")), "IN;SP1;SC0,100,0;PU0,0;PD10,10;\n");
    // Scaled to the plotter's limits, which it does not set: the sheet's.
    Write(Path(QStringLiteral("to-sheet.plt")), "IN;SC0,10000,0,7500;SP1;PU;PA0,0;PD;PA10000,0,10000,7500;PU;");
    // The rest of the plot after a NUL.
    Write(Path(QStringLiteral("nul.plt")), QByteArray("IN;SP1;PU4000,4000;PD4400,4000;\0PU5000,5000;PD6000,6000;", 56));
    // A 2 x 1 inch rectangle, one instruction per line.
    Write(Path(QStringLiteral("box.plt")), "IN;\nPU0 0;\nPD2000 0;\nPD2000 1000;\nPD0 1000;\nPD0 0;\n");
    // A 10.01 mm square at the far corner of the 32-bit range, and two lines
    // across it that cross at the origin.
    Write(Path(QStringLiteral("far.plt")), "PU-845466000 -845466000;\nPD-845465606 -845466000;\n"
                                           "PD-845465606 -845465606;\nPD-845466000 -845465606;\n"
                                           "PD-845466000 -845466000;\n");
    Write(Path(QStringLiteral("cross.plt")), "PU-800000000 0;\nPD800000000 0;\nPU0 -800000000;\nPD0 800000000;\n");
    // Pen 1 draws a 10 mm line, pen 2 a 10 mm hook above it.
    Write(Path(QStringLiteral("pens.plt")), "IN;SP1;PU0,0;PD400,0;SP2;PU0,400;PD400,400,400,800;SP0;");
    QVERIFY(FDev.isValid());
    Write(FDev.filePath(QStringLiteral("precious.db")), "precious");
    // A major number no driver has: nothing could be written even by mistake.
    ::mknod(QFile::encodeName(FDev.filePath(QStringLiteral("disk"))).constData(), S_IFBLK | 0600, ::makedev(240, 0));
}

int TestCommandLine::Run(const QStringList& args, QString* err, QString* out)
{
    std::vector<std::string> all{"vellico-output-test"};
    for (QString a : args)
        all.push_back(
            NativeFileName(a.replace(QStringLiteral("$DIR"), FDir.path()).replace(QStringLiteral("$DEV"), FDev.path()))
                .toStdString());
    std::ostringstream errStream, outStream;
    const int code = RunCommandLine(all, outStream, errStream);
    if (err)
        *err = QString::fromStdString(errStream.str());
    if (out)
        *out = QString::fromStdString(outStream.str());
    return code;
}

QString TestCommandLine::MovesPlot()
{
    const QString plot = Path(QStringLiteral("moves.plt"));
    if (!QFile::exists(plot)) {
        QByteArray text;
        for (int i = 0; i < 50000; ++i)
            text += QByteArray(i % 2 ? "PD" : "PU") + QByteArray::number(i % 8000) + ' ' + QByteArray::number(i % 97)
                    + ";\n";
        Write(plot, text);
    }
    return plot;
}

int TestCommandLine::RunProgram(const QStringList& args, QString* err, QByteArray* out)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    QStringList all;
    for (QString a : args) {
        // Leading NAME=value words are the program's environment.
        if (all.isEmpty() && !a.startsWith(QLatin1Char('-')) && a.contains(QLatin1Char('=')))
            env.insert(a.section(QLatin1Char('='), 0, 0), a.section(QLatin1Char('='), 1));
        else
            all << a.replace(QStringLiteral("$DIR"), FDir.path());
    }
    program.setProcessEnvironment(env);
    // As a shell starts it: a signal this test ignores ends the program.
    program.setChildProcessModifier([] { std::signal(SIGXFSZ, SIG_DFL); });
    program.start(QStringLiteral(VELLICO_PROGRAM), all);
    if (!program.waitForFinished(30000))
        return -1;
    *err = QString::fromLocal8Bit(program.readAllStandardError());
    if (out)
        *out = program.readAllStandardOutput();
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
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
    QTest::addColumn<QString>("notice"); // on standard error: how much was left out

    const QSizeF sample(SampleW, SampleH);
    QTest::newRow("hpgl, default place on the queue's A4")
        << QStringList{"--send-as", "hpgl"} << SendAs::HPGL << 51 << sample << QPointF(0, 297) << QString();
    QTest::newRow("Letter, top right by index")
        << QStringList{"--send-as", "HPGL", "--sheet", "Letter", "--position", "3"} << SendAs::HPGL << 51 << sample
        << QPointF(215.9 - SampleW, 279.4) << QString();
    QTest::newRow("roll, top right by text")
        << QStringList{"--send-as", "hpgl", "--sheet", "600x1000", "--position", "TOP right"} << SendAs::HPGL << 51
        << sample << QPointF(600 - SampleW, 1000) << QString();
    // The top edge of a centred plot sits at half the sheet's height.
    QTest::newRow("gpgl, centred") << QStringList{"--send-as", "gpgl", "--position", "Centered"} << SendAs::GPGL << 51
                                   << sample << QPointF((210 - SampleW) / 2, 297.0 / 2) << QString();
    // Placed near the 32-bit limits as the placement's sums say, on A4;
    // "Centered" centres the square itself, not the point R div 2.
    const QSizeF far(10.01, 10.01);
    const std::pair<int, QPointF> farCorners[] = {{0, {0, 10.01}},    {1, {199.99, 10.01}}, {2, {0, 297}},
                                                  {3, {199.99, 297}}, {4, {100, 10.01}},    {5, {100, 297}},
                                                  {6, {0, 148.5}},    {7, {199.99, 148.5}}, {8, {100, 148.5}}};
    for (const auto& [position, corner] : farCorners)
        QTest::addRow("far square at %d", position)
            << QStringList{"--send-as", "hpgl", "--position", QString::number(position), "$DIR/far.plt"} << SendAs::HPGL
            << 1 << far << corner << QString();
    // Only the middle positions bring the crossing on the sheet: the upright
    // line, cut across the whole sheet at its middle, and the rest told.
    for (int position : {4, 5})
        QTest::addRow("crossing lines at %d", position)
            << QStringList{"--send-as", "hpgl", "--position", QString::number(position), "$DIR/cross.plt"}
            << SendAs::HPGL << 1 << QSizeF(0, 297) << QPointF(105, 297)
            << "Part of the plot lies off the sheet and was not cut: more than 99.9 % of its length (81279703.0 of "
               "81280000.0 mm)\n";
    // Centred, the upright line's top half reaches the middle of the sheet.
    QTest::newRow("crossing lines at 8")
        << QStringList{"--send-as", "hpgl", "--position", "8", "$DIR/cross.plt"} << SendAs::HPGL << 1
        << QSizeF(0, 148.5) << QPointF(105, 148.5)
        << "Part of the plot lies off the sheet and was not cut: more than 99.9 % of its length (81279851.5 of "
           "81280000.0 mm)\n";
    QTest::newRow("plot scaled to the sheet")
        << QStringList{"--send-as", "hpgl", "--sheet", "400x300", "--position", "0", "$DIR/to-sheet.plt"}
        << SendAs::HPGL << 1 << QSizeF(400, 300) << QPointF(0, 300)
        << "The file scales its plot (SC) to the plotter's own limits without setting them (IP): the sheet's 400 x "
           "300 mm were taken.\n";
    // Its right side off the sheet: the rest of the outline, in two pieces.
    QTest::newRow("rectangle wider than the sheet")
        << QStringList{"--send-as", "dmpl", "--sheet", "40x100", "--position", "0", "$DIR/box.plt"} << SendAs::DMPL << 2
        << QSizeF(40, 25.4) << QPointF(0, 25.4)
        << "Part of the plot lies off the sheet and was not cut: 30.8 % of its length (47.0 of 152.4 mm)\n";
    QTest::newRow("plot file, replacing a file")
        << QStringList{"--send-as", "camm", "--position", "0", "--replace", "$DIR/box.plt"} << SendAs::CAMMGL << 1
        << QSizeF(50.8, 25.4) << QPointF(0, 25.4) << QString();
    QTest::newRow("one pen of a plot file")
        << QStringList{"--send-as", "hpgl", "--position", "0", "--pens", "2", "$DIR/pens.plt"} << SendAs::HPGL << 1
        << QSizeF(10, 10) << QPointF(0, 10) << QString();
    QTest::newRow("pens separated by a blank")
        << QStringList{"--send-as", "hpgl", "--position", "0", "--pens", "1 2", "$DIR/pens.plt"} << SendAs::HPGL << 2
        << QSizeF(10, 20) << QPointF(0, 20) << QString();
    // Corrections for this cut only, about the cutter's origin; 100 mm lines
    // measured 125 and 80 mm give 80 % and 125 %. The scale makes up for the
    // cutter's own error, so the sample at twice the size is on the sheet.
    QTest::newRow("sample at twice the size")
        << QStringList{"--send-as", "hpgl", "--position", "0", "--scale", "200%"} << SendAs::HPGL << 51 << sample * 2
        << QPointF(0, 2 * SampleH) << QString();
    QTest::newRow("scale lines, measured")
        << QStringList{"--send-as", "hpgl",     "--position", "0",          "--pattern",
                       "scale",     "--length", "100",        "--measured", "125,80mm"}
        << SendAs::HPGL << 10 << QSizeF(106 * 0.8, 108 * 1.25) << QPointF(0, 108 * 1.25) << QString();
    QTest::newRow("test cut") << QStringList{"--send-as", "dmpl", "--pattern", "test-cut"} << SendAs::DMPL << 2
                              << QSizeF(10, 10) << QPointF(0, 297) << QString();
    QTest::newRow("test cut with a force CAMM-GL has no command for")
        << QStringList{"--send-as", "camm", "--pattern", "test-cut", "--force", "80"} << SendAs::CAMMGL << 2
        << QSizeF(10, 10) << QPointF(0, 297) << "CAMM-GL cannot take the force: it is left out.\n";
    // A test cut that fills the sheet leaves no room to align the blade: cut
    // without the stroke, and told. The holder's path, which reaches past
    // the square by the offset, stops at the sheet's edges, and that is told
    // too.
    QTest::newRow("test cut with no room to align the blade")
        << QStringList{"--send-as", "hpgl", "--pattern", "test-cut", "--blade-offset", "1.5", "--sheet", "12x12"}
        << SendAs::HPGL << 2 << QSizeF(11.5, 11.5) << QPointF(0, 12)
        << "Part of the plot lies off the sheet and was not cut: 13.0 % of its length (7.7 of 59.4 mm). "
           "The stroke that aligns the blade was left out: the sheet has no room for it clear of the plot.\n";
    // The weed box is cut off at the sheet's edges like the rest, and that
    // is not the plot left out: only the travel asked for is told, the job's
    // own from the cutter's origin to a tenth of a mm (the box not in it).
    QTest::newRow("optimised, weed box, verbose")
        << QStringList{"--send-as", "hpgl", "--order", "optimised", "--weed-box", "3", "--verbose"} << SendAs::HPGL
        << 52 << QSizeF(SampleW + 3, SampleH + 3) << QPointF(0, 297)
        << "Pen-up travel: 649.2 mm as drawn, 572.3 mm as cut.\n";
    QTest::newRow("ladder of one square")
        << QStringList{"--send-as", "gpgl", "--pattern", "ladder", "--offsets", "0:0:0.05"} << SendAs::GPGL << 3
        << QSizeF(10, 16) << QPointF(0, 297) << QString();
    // 2 rows by 3 columns: 6 squares and triangles, 13 tally ticks.
    QTest::newRow("grid") << QStringList{"--send-as", "gpgl",  "--pattern", "grid", "--forces", "10:20:10",
                                         "--speeds",  "2:6:2", "--force",   "12",   "--speed",  "3"}
                          << SendAs::GPGL << 25 << QSizeF(40, 36) << QPointF(0, 297) << QString();
}

void TestCommandLine::cutsToFile()
{
    QFETCH(QStringList, args);
    QFETCH(SendAs, language);
    QFETCH(int, paths);
    QFETCH(QSizeF, size);
    QFETCH(QPointF, leftTop);
    QFETCH(QString, notice);

    const QString out = Path(QStringLiteral("job.out"));
    const QString link = Path(QStringLiteral("job.link"));
    QFile::remove(out);
    QFile::remove(link);
    const bool replacing = args.contains(QStringLiteral("--replace"));
    if (replacing) {
        Write(out, "an older job");
        QCOMPARE(::link(qPrintable(out), qPrintable(link)), 0);
    }
    QString err;
    QCOMPARE(Run(QStringList{"--cut", "--output", out} + args, &err), 0);
    QVERIFY2(notice.isEmpty() ? err.isEmpty() : err.startsWith(notice), qPrintable(err));
    // Replaced by a new file renamed over the old: never written in place,
    // so a failure cannot leave half a job, and a link keeps the old one.
    if (replacing) {
        QCOMPARE(ReadAll(link), QByteArray("an older job"));
        QFile::remove(link);
    }

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
    QTest::newRow("beginning of a position")
        << file + QStringList{"--position", "Top"} << 2 << "\"Top\" is not a position";
    QTest::newRow("position 9") << file + QStringList{"--position", "9"} << 2 << "Position 9 is not in the list";
    QTest::newRow("sheet zero") << file + QStringList{"--sheet", "0x1000"} << 2 << "\"0x1000\" is not a sheet";
    QTest::newRow("sheet huge") << file + QStringList{"--sheet", "600x60000"} << 2 << "is not a sheet";
    QTest::newRow("position beginning") << file + QStringList{"--position", "top"} << 2 << "\"top\" is not a position";
    // The program itself, with no display: a mistyped form never opens the window.
    QTest::newRow("program: --cutt") << QStringList{"--cutt"} << 2 << "Unknown option 'cutt'";
    QTest::newRow("program: --CUT") << QStringList{"--CUT", "--output", "$DIR/bad.out"} << 2 << "Unknown option 'CUT'";
    QTest::newRow("program: --cut=yes") << QStringList{"--cut=yes", "--output", "$DIR/bad.out"} << 2
                                        << "Unexpected value after '--cut'";
    QTest::newRow("program: no --cut") << QStringList{"--send-as", "hpgl", "--output", "$DIR/bad.out"} << 2
                                       << "Nothing to do without --cut";
    // Values are quoted up to 64 characters.
    const QString huge(100000, QLatin1Char('9'));
    QTest::newRow("huge sheet") << file + QStringList{"--sheet", huge} << 2
                                << QString(64, QLatin1Char('9')) + QChar(0x2026) + "\" is not a sheet";
    QTest::newRow("huge device") << QStringList{"--cut", "--device", huge} << 1
                                 << "named \"" + QString(64, QLatin1Char('9')) + QChar(0x2026) + "\"";
    QTest::newRow("port name too long") << QStringList{"--cut", "--device", "/dev/" + huge} << 1
                                        << "is longer than the system allows";
    QTest::newRow("missing folder") << QStringList{"--cut", "--output", "$DIR/none/bad.out"} << 1
                                    << "Its folder does not exist";
    QTest::newRow("existing file") << QStringList{"--cut", "--output", "$DIR/kept.out"} << 1 << "already exists";
    // Asking the cutter is a task of its own, and for a port alone.
    QTest::newRow("identify and cut") << QStringList{"--identify", "--cut", "--output", "$DIR/bad.out"} << 2
                                      << "Give one of --cut";
    QTest::newRow("check and save") << QStringList{"--check-line", "--save", "--scale", "100"} << 2
                                    << "Give one of --cut";
    QTest::newRow("answer limit for a cut")
        << file + QStringList{"--answer-limit", "2"} << 2 << "--answer-limit is for --identify and --check-line";
    QTest::newRow("answer limit of nothing")
        << QStringList{"--check-line", "--answer-limit", "0"} << 2 << "\"0\" is not a time for --answer-limit";
    QTest::newRow("check a queue") << QStringList{"--check-line", "--device", "RawCutter"} << 1
                                   << "\"RawCutter\" is not a port";
    QTest::newRow("identify a queue, port settings given")
        << QStringList{"--identify", "--device", "RawCutter", "--port-settings", "9600,8,N,1,none"} << 1
        << "\"RawCutter\" is not a port";
    QTest::newRow("plot that cuts nothing")
        << file + QStringList{"$DIR/one-line.plt"} << 1
        << "one-line.plt\" has nothing to cut: it draws no line, circle or arc with the pen down.";
    QTest::newRow("pens not a list") << file + QStringList{"--pens", "2-", "$DIR/pens.plt"} << 2
                                     << "\"2-\" is not a list of pens";
    QTest::newRow("pens without a file") << file + QStringList{"--pens", "2"} << 2 << "name the file";
    QTest::newRow("pens that draw nothing") << file + QStringList{"--pens", "3, 4", "$DIR/pens.plt"} << 1
                                            << "pens.plt\" has nothing to cut with pens 3, 4.";
    // Nothing of the plot on the sheet: no job, whatever its destination
    // (the raw queue's job would be seen by cutsOnDevice).
    const QString offSheet = QStringLiteral("Nothing of the plot falls on the sheet at this position, so nothing was "
                                            "sent; choose another position or a larger sheet.");
    QTest::newRow("sample off a small sheet")
        << file + QStringList{"--sheet", "10x20", "--position", "8"} << 1 << offSheet;
    QTest::newRow("sample off a small sheet, raw queue")
        << QStringList{"--cut", "--device", "RawCutter", "--sheet", "10x20", "--position", "8"} << 1 << offSheet;
    for (int position : {0, 1, 2, 3, 6, 7})
        QTest::addRow("crossing lines at %d", position)
            << file + QStringList{"--position", QString::number(position), "$DIR/cross.plt"} << 1 << offSheet;
    QTest::newRow("plot with scaling of three numbers")
        << file + QStringList{"$DIR/scaled.plt"} << 1
        << "The HPGL instruction \"SC0,100,0\" at line 1, column 8 takes 4, 5 or 7 numbers";
    QTest::newRow("plot with a NUL") << file + QStringList{"$DIR/nul.plt"} << 1
                                     << "Unexpected NUL byte at line 1, column 32";
    QTest::newRow("missing plot") << file + QStringList{"$DIR/absent.plt"} << 1 << "absent.plt";
    // The window's words, and then what went wrong.
    QTest::newRow("program: no print server")
        << QStringList{"CUPS_SERVER=/nonexistent/cups.sock", "--cut"} << 1
        << "System Error.  Code: 1282.\nThe print server is not running or cannot be reached.\n";
    QTest::newRow("unknown device") << QStringList{"--cut", "--device", "NoSuchCutter"} << 1
                                    << "There is no printer named \"NoSuchCutter\"";
    // The variables name queues, as for lp: never a port, nor the default queue instead.
    QTest::newRow("program: LPDEST a port's path") << QStringList{"LPDEST=/dev/ttyUSB0", "--cut"} << 1
                                                   << "\"/dev/ttyUSB0\", named by LPDEST, is not the name of a printer";
    QTest::newRow("program: PRINTER a queue the server lacks")
        << QStringList{"PRINTER=NoSuchCutter", "--cut"} << 1
        << "Printer selected is not valid: \"NoSuchCutter\", named by PRINTER, is not a printer on the server";
    QTest::newRow("driver paper the queue lacks")
        << QStringList{"--cut", "--device", "TestCutter", "--send-as", "driver", "--sheet", "600x1000"} << 1
        << "has no 600 x 1000 mm paper";
    const QStringList port{"--cut", "--device", "/dev/ttyUSB-vellico-unplugged"};
    QTest::newRow("unplugged port") << port << 1
                                    << "is not there: check that the cutter (or its USB adapter) is "
                                       "plugged in and switched on.\n";
    QTest::newRow("port line with 9 bits") << port + QStringList{"--port-settings", "9600,9,N,1,none"} << 2
                                           << "\"9600,9,N,1,none\" is not a port setting: the data bits are not 5 to 8";
    QTest::newRow("port line at 9601 baud")
        << port + QStringList{"--port-settings", "9601,8,N,1,none"} << 2 << "the speed is not one of 300, 600";
    QTest::newRow("port line flow unknown") << port + QStringList{"--port-settings", "9600,8,N,1,ask"} << 2
                                            << "the flow control is not none, xonxoff, rtscts or query";
    QTest::newRow("cutter asked in GP-GL")
        << port + QStringList{"--port-settings", "9600,8,N,1,QUERY", "--send-as", "gpgl"} << 2
        << "GP-GL has no question for the free space in a cutter's buffer, so the cutter cannot be asked before "
           "each block: choose XON/XOFF, RTS/CTS or none as the flow control";
    QTest::newRow("port line for a queue")
        << QStringList{"--cut", "--device", "RawCutter", "--port-settings", "9600,8,N,1,none"} << 2
        << "--port-settings is for a cutter on a port";
    QTest::newRow("driver on a port") << port + QStringList{"--send-as", "driver"} << 2
                                      << "A cutter on a port takes a cutter language";
    QTest::newRow("measured 50 % off") << file + QStringList{"--pattern", "scale", "--measured", "99", "--save"} << 2
                                       << "more than 50 % off";
    QTest::newRow("scale lines past the sheet")
        << file + QStringList{"--pattern", "scale", "--length", "250"} << 2 << "do not fit";
    QTest::newRow("ladder past the sheet")
        << file + QStringList{"--pattern", "ladder", "--sheet", "60x100", "--save", "--overcut", "1"} << 2
        << "does not fit";
    QTest::newRow("offset out of range") << file + QStringList{"--blade-offset", "1.6", "--save"} << 2
                                         << "blade offset must be from 0 to 1.5";
    QTest::newRow("scale: y alone out of range")
        << file + QStringList{"--scale", "100,1000"} << 2 << "The scale must be from 25 % to 400 %";
    QTest::newRow("square that is no parallelogram")
        << file + QStringList{"--pattern", "square", "--measured-square", "200,150,400,250"} << 2
        << "make no parallelogram";
    QTest::newRow("square leaning past 2 degrees")
        << file + QStringList{"--measured-square", "200,150,240,260"} << 2 << "degrees out of square";
    QTest::newRow("scale and measured") << file + QStringList{"--scale", "101", "--measured", "200"} << 2
                                        << "either --scale or --measured";
    QTest::newRow("file under /dev as a port") << QStringList{"--cut", "--device", "$DEV/precious.db"} << 1
                                               << "precious.db is not a port: it is a regular file";
    QTest::newRow("disk as a port") << QStringList{"--cut", "--device", "$DEV/disk"} << 1
                                    << "disk is not a port: it is a block device";
    QTest::newRow("disk as output") << file.mid(0, 4) + QStringList{"$DEV/disk"} << 1 << "It is a block device";
    QTest::newRow("folder as output") << file.mid(0, 4) + QStringList{"$DIR"} << 1 << "It is a folder";
    // Writes that fail part way (at the file size limit, as on a full disk):
    // the file to be replaced stays whole.
    QTest::newRow("full: replacing a file")
        << file.mid(0, 4) + QStringList{"$DIR/kept.out", "--replace"} << 1 << "kept.out\". File too large";
    // The program itself meets the limit as a failed write, not SIGXFSZ.
    QTest::newRow("program: full: new file") << file << 1 << "bad.out\". File too large";
    QTest::newRow("offsets step past the span")
        << file + QStringList{"--pattern", "ladder", "--offsets", "0:1:10000000"} << 2 << "do not lead from 0 to 1 mm";
    QTest::newRow("offsets endless step")
        << file + QStringList{"--pattern", "ladder", "--offsets", "0:1:inf"} << 2 << "in steps of at least 0.01 mm";
    QTest::newRow("offsets huge step") << file + QStringList{"--pattern", "ladder", "--offsets", "0:1:1e300"} << 2
                                       << "do not lead from 0 to 1 mm";
    QTest::newRow("blade offset takes one value")
        << file + QStringList{"--blade-offset", "0.25,0.5"} << 2
        << "\"0.25,0.5\" is not a value for --blade-offset; it takes one length in mm";
    QTest::newRow("unknown order") << file + QStringList{"--order", "fastest"} << 2
                                   << "Unknown order \"fastest\" for --order; use drawn or optimised";
    QTest::newRow("weed box too far") << file + QStringList{"--weed-box", "60"} << 2
                                      << "The weed box must be from 0 to 50 mm";
    QTest::newRow("force past HP-GL's") << file + QStringList{"--force", "401"} << 2
                                        << "A force of 401 cannot be sent: HPGL takes 1 to 400 g";
    // In the language's own range, not the widest any language takes.
    QTest::newRow("force past any language's")
        << file + QStringList{"--force", "1001"} << 2 << "A force of 1001 cannot be sent: HPGL takes 1 to 400 g";
    QTest::newRow("wait limit without waiting")
        << file + QStringList{"--wait-limit", "5"} << 2 << "--wait-limit is for --wait";
    // Lengths past any sheet are a misreading of the rectangle, not a line.
    QTest::newRow("square with sides past any sheet")
        << file + QStringList{"--measured-square", "1e308,1e308,1.4e308,1.4e308"} << 2
        << "A side measured as 1e+308 mm is more than 50 % off the rectangle's 190 mm; measure each side between "
           "the corners' marks";
    QTest::newRow("speed not whole") << file + QStringList{"--speed", "2.5"} << 2
                                     << "\"2.5\" is not a value for --speed";
    QTest::newRow("forces without the grid")
        << file + QStringList{"--forces", "1:3:1"} << 2 << "--forces is for --pattern grid";
    QTest::newRow("grid in CAMM-GL") << QStringList{"--cut",     "--send-as", "camm",     "--output", "$DIR/bad.out",
                                                    "--pattern", "grid",      "--forces", "1:3:1"}
                                     << 2 << "CAMM-GL has no command for either";
    QTest::newRow("grid of 30 cells") << file + QStringList{"--pattern", "grid",     "--forces",
                                                            "1:6:1",     "--speeds", "1:5:1"}
                                      << 2 << "6 forces by 5 speeds make 30 cells, too many";
    QTest::newRow("grid force past GP-GL's")
        << QStringList{"--cut",     "--send-as", "gpgl",     "--output", "$DIR/bad.out",
                       "--pattern", "grid",      "--forces", "10:40:10"}
        << 2 << "GP-GL takes a force of 1 to 31 levels; 10 to 40 does not fit";
    QTest::newRow("grid with no speed to go back to")
        << file + QStringList{"--pattern", "grid", "--speeds", "10:20:10"} << 2
        << "The grid would leave the cutter at its last cell's speed: give the speed";
    QTest::newRow("grid with no steps") << file + QStringList{"--pattern", "grid"} << 2
                                        << "The grid needs the forces or the speeds";
    QTest::newRow("grid of two billion speeds") << file + QStringList{"--pattern", "grid", "--speeds", "1:2147483647:1"}
                                                << 2 << "2147483647 speeds are too many for one grid";
    QTest::newRow("endless overcut") << file + QStringList{"--overcut", "inf"} << 2
                                     << "\"inf\" is not a value for --overcut; it takes one length in mm";
    // Every value is echoed cut short (each message's length is checked too).
    const QString cut = QString(64, QLatin1Char('9')) + QChar(0x2026);
    const std::tuple<const char*, QStringList, QString> hugeValues[] = {
        {"pattern", {"--pattern", huge}, "Unknown pattern \"" + cut + '"'},
        {"length",
         {"--pattern", "scale", "--length", huge + 'x'},
         cut + "\" is not a value for --length; it takes one"},
        {"offsets", {"--pattern", "ladder", "--offsets", huge}, cut + "\" is not a row of offsets"},
        {"scale", {"--scale", huge + 'x'}, cut + "\" is not a value for --scale"},
        {"measured", {"--measured", huge + 'x'}, cut + "\" is not a value for --measured"},
        {"blade offset", {"--blade-offset", huge + 'x'}, cut + "\" is not a value for --blade-offset"},
        {"overcut", {"--overcut", huge + 'x'}, cut + "\" is not a value for --overcut"},
        {"unknown option", {"--" + huge}, "Unknown option '" + cut + '\''},
        {"cluster of short options", {"-" + huge}, "Unknown options: '9', '9', '9', '9', '9', and 99995 more"}};
    for (const auto& [name, option, said] : hugeValues)
        QTest::addRow("huge %s", name) << file + option << 2 << said;
    QStringList manyPens;
    for (int pen = 3; pen < 20003; ++pen)
        manyPens << QString::number(pen);
    QTest::newRow("20,000 pens that draw nothing")
        << file + QStringList{"--pens", manyPens.join(','), "$DIR/pens.plt"} << 1
        << "pens.plt\" has nothing to cut with pens 3, 4, 5, 6, 7, 8, 9, 10 and 19992 more.";
    // The program's own terminal is never a port; refused before it is opened.
    for (const char* terminal : {"/dev/tty", "/dev/console", "/dev/tty0"})
        QTest::addRow("terminal %s as a port", terminal)
            << QStringList{"--cut", "--device", terminal} << 1
            << QString::fromLatin1(terminal) + " is this program's own terminal or a console";
    // Without a display the window cannot open: a sentence, not the toolkit's abort.
    QTest::newRow("program: window with no display") << QStringList() << 1 << "The window needs a display";
}

void TestCommandLine::badInputLeavesNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString disk = FDev.filePath(QStringLiteral("disk"));
    if (args.join(' ').contains(QLatin1String("$DEV/disk")) && !QFileInfo::exists(disk))
        QSKIP("making device nodes is not permitted here");

    const QString kept = Path(QStringLiteral("kept.out"));
    Write(kept, "keep me");
    QString err;
    const bool program = QByteArray(QTest::currentDataTag()).startsWith("program:");
    const QByteArray tag(QTest::currentDataTag());
    if (tag.startsWith("terminal ") && !QFileInfo::exists(QString::fromLatin1(tag.split(' ').value(1))))
        QSKIP("no such terminal here");
    int got = 0;
    {
        const FileSizeLimit limit(QByteArray(QTest::currentDataTag()).contains("full:") ? 1024 : RLIM_INFINITY);
        got = program ? RunProgram(args, &err) : Run(args, &err);
    }
    QCOMPARE(got, code);
    QVERIFY2(err.contains(message), qPrintable(err.left(1000)));
    // Short, whatever was given.
    QVERIFY2(err.size() < 600, qPrintable(err.left(1000)));
    QCOMPARE(err.contains(QStringLiteral("--help")), code == 2);
    QVERIFY(!QFile::exists(Path(QStringLiteral("bad.out"))));
    QCOMPARE(ReadAll(kept), QByteArray("keep me"));
    QCOMPARE(ReadAll(FDev.filePath(QStringLiteral("precious.db"))), QByteArray("precious"));
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(disk).constData(), &st) != 0 || S_ISBLK(st.st_mode));
    // No half-written job beside the files the tests made.
    QStringList others = QDir(FDir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const char* made : {"kept.out", "job.out", "box.plt", "one-line.plt", "scaled.plt", "to-sheet.plt", "nul.plt",
                             "far.plt", "cross.plt", "pens.plt"})
        others.removeAll(QString::fromLatin1(made));
    QCOMPARE(others, QStringList());
}

// --save keeps corrections with their device, for every later run; without
// it they apply to one cut. A kept scale applies once, and the next
// measurement composes with it.
void TestCommandLine::correctionsKeptOnlyWithSave()
{
    const QStringList raw{"--device", "RawCutter"};
    const QString out = Path(QStringLiteral("saved.out"));
    const auto extent = [&](const QStringList& args) {
        QFile::remove(out);
        QString err;
        if (Run(QStringList{"--cut", "--position", "0", "--output", out} + raw + args, &err) != 0)
            qWarning() << err;
        QString error;
        return Extent(DecodePlotterJob(SendAs::HPGL, ReadAll(out), &error)).size();
    };
    QCOMPARE(Run(QStringList{"--save", "--scale", "100", "--blade-offset", "0", "--overcut", "0"} + raw), 0);
    const QSizeF plain = extent({});
    QVERIFY(std::abs(extent({"--scale", "50%,100%"}).width() - plain.width() / 2) <= 0.05);
    QCOMPARE(extent({}), plain);

    // Lines of 200 mm measured 202 and 198 mm, then a second round.
    QCOMPARE(Run(QStringList{"--save", "--measured", "202,198"} + raw), 0);
    QCOMPARE(Run(QStringList{"--save", "--measured", "200.2,199.8", "--overcut", "1.5"} + raw), 0);
    const CutterCorrections kept = RememberedSettings("RawCutter", {}).value().Corrections;
    QCOMPARE(kept.ScaleXPercent, 98.91);  // 100 x 200/202 = 99.01, x 200/200.2
    QCOMPARE(kept.ScaleYPercent, 101.11); // 101.01 x 200/199.8
    QCOMPARE(kept.OvercutMm, 1.5);
    QCOMPARE(kept.BladeOffsetMm, 0.0);
    const QSizeF corrected = extent({});
    QVERIFY(std::abs(corrected.width() - plain.width() * 0.9891) <= 0.05);
    QVERIFY(std::abs(corrected.height() - plain.height() * 1.0111) <= 0.05);
    QCOMPARE(Run(QStringList{"--save", "--scale", "100", "--overcut", "0"} + raw), 0);
    QCOMPARE(RememberedSettings("RawCutter", {}).value().Corrections, CutterCorrections{});
    QCOMPARE(Run(QStringList{"--save"} + raw), 2);

    // A key spoiled by hand is said once, and the rest still applies.
    QCOMPARE(Run(QStringList{"--save", "--scale", "50%,100%"} + raw), 0);
    QSettings(FileName(SettingsFilePath()), QSettings::IniFormat)
        .setValue(QStringLiteral("Devices/RawCutter/MirrorX"), "sure");
    QString err;
    QFile::remove(out);
    QCOMPARE(Run(QStringList{"--cut", "--position", "0", "--output", out} + raw, &err), 0);
    QCOMPARE(err.count(QStringLiteral("MirrorX \"sure\"")), 1);
    QString error;
    QVERIFY(std::abs(Extent(DecodePlotterJob(SendAs::HPGL, ReadAll(out), &error)).width() - plain.width() / 2) <= 0.05);
    QCOMPARE(Run(QStringList{"--save", "--scale", "100"} + raw), 0);
}

void TestCommandLine::savesOnlyWhatReachesTheFile_data()
{
    QTest::addColumn<QString>("place"); // what stands at the settings file's place
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QStringList save{"--save", "--device", "RawCutter", "--blade-offset", "0.35"};
    for (const char* place : {"pipe", "folder", "/dev/zero"})
        QTest::newRow(place) << place << save << 1 << "\" is not a regular file.\n";
    QTest::newRow("link into a missing folder")
        << "missing" << save << 1 << "none/settings.conf\", which cannot be written: No such file or directory.\n";
    QTest::newRow("its folder a file") << "folder a file" << save << 1 << "cannot be made: Not a directory.\n";
    QTest::newRow("disk full") << "full" << save << 1 << "cannot be written: File too large.\n";
    QTest::newRow("too large") << "2 MB" << save << 1 << "is 2.0 MB, too large to be a settings file.\n";
    // Never read: a cut goes on without it, at once.
    QTest::newRow("too large, for a cut")
        << "2 MB" << QStringList{"--cut", "--device", "RawCutter", "--output", "$DIR/saving.out"} << 0
        << "is 2.0 MB, too large to be a settings file: the settings kept for each device are not used.\n";
    // Corrections tried on a cut that fails are not kept.
    QTest::newRow("cut fails") << "" << save + QStringList{"--cut", "--sheet", "10x20", "--position", "8"} << 1
                               << "so nothing was sent; choose another position or a larger sheet.\n";
}

// --save fails, saying why, whenever the settings do not reach the file;
// whatever stands in its place is left as it was, and nothing beside it.
void TestCommandLine::savesOnlyWhatReachesTheFile()
{
    QFETCH(QString, place);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString conf = FileName(SettingsFilePath()), folder = QFileInfo(conf).path(), aside = folder + ".aside";
    // A row that failed before may have left the file aside.
    if (QFileInfo(aside).isDir()) {
        QVERIFY(QFileInfo(folder).isDir() ? QDir(folder).removeRecursively() : QFile::remove(folder));
        QVERIFY(QDir().rename(aside, folder));
    }
    QFile::remove(aside);
    QCOMPARE(Run({"--save", "--device", "RawCutter", "--blade-offset", "0.1"}), 0);
    // The file with its entry goes aside while something else takes its place.
    if (!place.isEmpty()) {
        QDir(aside).removeRecursively();
        QVERIFY(QDir().rename(folder, aside));
        if (place == QLatin1String("folder a file"))
            Write(folder, "a file");
        else
            QVERIFY(QDir().mkpath(folder));
    }
    const QByteArray native = QFile::encodeName(conf);
    if (place == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    else if (place == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(conf));
    else if (place == QLatin1String("/dev/zero"))
        QCOMPARE(::symlink("/dev/zero", native.constData()), 0);
    else if (place == QLatin1String("missing"))
        QCOMPARE(::symlink(QFile::encodeName(folder + "/none/settings.conf").constData(), native.constData()), 0);
    else if (place == QLatin1String("full"))
        Write(conf, "[Devices]\nRawCutter\\BladeOffsetMm=0.1\n[Other]\nNote=" + QByteArray(2000, 'x') + '\n');
    else if (place == QLatin1String("2 MB"))
        Write(conf, "[Devices]\nRawCutter\\SendAs=dmpl\n" + QByteArray(2 << 20, ';'));
    const QByteArray was = Standing(folder) + '|' + Standing(conf);

    QString err;
    int got = 0;
    {
        const FileSizeLimit limit(place == QLatin1String("full") ? 1024 : RLIM_INFINITY);
        got = Run(args, &err);
    }
    QCOMPARE(got, code);
    QVERIFY2(err.count(message) == 1, qPrintable(err));
    QCOMPARE(err.contains(QLatin1String("The settings were not saved: ")), code != 0 && !place.isEmpty());
    QCOMPARE(Standing(folder) + '|' + Standing(conf), was);
    if (QFileInfo(folder).isDir()) {
        QStringList others =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        others.removeAll(QStringLiteral("vellico-output-test.conf"));
        others.removeAll(QStringLiteral("vellico-output-test.lock"));
        QCOMPARE(others, QStringList());
    }
    if (!place.isEmpty()) {
        QVERIFY(QFileInfo(folder).isDir() ? QDir(folder).removeRecursively() : QFile::remove(folder));
        QVERIFY(QDir().rename(aside, folder));
    }
    QCOMPARE(RememberedSettings("RawCutter", {}).value().Corrections.BladeOffsetMm, 0.1);
    QCOMPARE(Run({"--save", "--device", "RawCutter", "--blade-offset", "0"}), 0);
}

void TestCommandLine::keptInTheDevicesLanguageAndToldOnce_data()
{
    QTest::addColumn<QStringList>("kept"); // keys of RawCutter's entry before the row; none: no entry
    QTest::addColumn<QStringList>("args"); // for RawCutter
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");  // standard error begins with it; all of it on success
    QTest::addColumn<ToolSetting>("tool"); // the force and speed kept after it
    QTest::addColumn<QString>("later");    // what a plain cut says after it
    QTest::addColumn<QString>("fileHas");

    // A raw queue is an HPGL device: --send-as names the language of one cut,
    // and what --save keeps is in HPGL's units.
    const QString hpgl = "A force of %1 cannot be sent: HPGL takes 1 to 400 g";
    QTest::newRow("saved as CAMM-GL, a force past HPGL's")
        << QStringList() << QStringList{"--save", "--send-as", "camm", "--force", "999"} << 2 << hpgl.arg(999)
        << ToolSetting{} << QString() << QString();
    QTest::newRow("saved as GP-GL, a force HPGL takes")
        << QStringList() << QStringList{"--save", "--send-as", "gpgl", "--force", "300"} << 0
        << "Kept for \"RawCutter\", which is set to HPGL: --send-as gpgl is not kept.\n"
        << ToolSetting{300, 0} << QString() << QString();
    QTest::newRow("cut as DMPL and saved, a speed")
        << QStringList()
        << QStringList{"--cut", "--save", "--send-as", "dmpl", "--speed", "99", "--output", "$DIR/bad.out"} << 2
        << "The force and the speed cannot be sent as DMPL and kept for \"RawCutter\" as HPGL, in other units: cut "
           "and save them apart"
        << ToolSetting{} << QString() << QString();
    QTest::newRow("saved past any language's") << QStringList() << QStringList{"--save", "--force", "1001"} << 2
                                               << hpgl.arg(1001) << ToolSetting{} << QString() << QString();
    QTest::newRow("cut and saved in the device's language")
        << QStringList()
        << QStringList{"--cut", "--save", "--force", "120", "--speed", "20", "--output", "$DIR/job.out"} << 0
        << QString() << ToolSetting{120, 20} << QString() << QString();
    // What a job goes without is told once, the same way, kept or asked for.
    const QString camm = "CAMM-GL cannot take the force: it is left out.\n";
    QTest::newRow("force kept on a CAMM-GL device")
        << QStringList{"SendAs=camm", "Force=80"} << QStringList{"--cut", "--output", "$DIR/job.out"} << 0 << camm
        << ToolSetting{80, 0} << camm << QString();
    QTest::newRow("force kept and asked for on a CAMM-GL device")
        << QStringList{"SendAs=camm", "Force=80"}
        << QStringList{"--cut", "--output", "$DIR/job.out", "--force", "60", "--speed", "5"} << 0
        << "CAMM-GL cannot take the force and the speed: they are left out.\n"
        << ToolSetting{80, 0} << camm << QString();
    // One cut in a language that counts them on another scale: refused
    // before anything is sent, whether the numbers fit its range or not.
    const QString otherScale = "The cut cannot take the force and the speed kept for \"RawCutter\": %1";
    QTest::newRow("kept force, cut as GP-GL")
        << QStringList{"Force=300", "Speed=30"} << QStringList{"--cut", "--send-as", "gpgl", "--output", "$DIR/job.out"}
        << 1 << otherScale.arg("GP-GL counts the force and the speed in other units than HPGL; give them")
        << ToolSetting{300, 30} << QString() << QString();
    QTest::newRow("kept speed, cut as DMPL")
        << QStringList{"Force=300", "Speed=30"} << QStringList{"--cut", "--send-as", "dmpl", "--output", "$DIR/job.out"}
        << 1 << otherScale.arg("DMPL counts the speed in other units than HPGL;") << ToolSetting{300, 30} << QString()
        << QString();
    // Grams in both.
    QTest::newRow("kept force, cut as DMPL with its own speed")
        << QStringList{"Force=300", "Speed=30"}
        << QStringList{"--cut", "--send-as", "dmpl", "--speed", "0", "--output", "$DIR/job.out"} << 0 << QString()
        << ToolSetting{300, 30} << QString() << QString();
    QTest::newRow("kept force, cut as GP-GL with its own force")
        << QStringList{"Force=300"}
        << QStringList{"--cut", "--send-as", "gpgl", "--force", "12", "--output", "$DIR/job.out"} << 0 << QString()
        << ToolSetting{300, 0} << QString() << QString();
    QTest::newRow("kept force, saved while set as GP-GL")
        << QStringList{"Force=300"} << QStringList{"--save", "--send-as", "gpgl", "--order", "optimised"} << 0
        << "Kept for \"RawCutter\", which is set to HPGL: --send-as gpgl is not kept.\n"
        << ToolSetting{300, 0} << QString() << "Force=300\n";
    QTest::newRow("kept force, cut as CAMM-GL")
        << QStringList{"Force=80"} << QStringList{"--cut", "--send-as", "camm", "--output", "$DIR/job.out"} << 0 << camm
        << ToolSetting{80, 0} << QString() << QString();
    const QStringList driver{"--cut", "--send-as", "driver", "--output", "$DIR/job.out"};
    QTest::newRow("driver: skew, order and weed box")
        << QStringList() << driver + QStringList{"--skew", "0.5", "--order", "optimised", "--weed-box", "3"} << 0
        << "The printer driver cannot take the skew, the optimised order and the weed box: they are left out.\n"
        << ToolSetting{} << QString() << QString();
    QTest::newRow("driver: force") << QStringList() << driver + QStringList{"--force", "100"} << 0
                                   << "The printer driver cannot take the force: it is left out.\n"
                                   << ToolSetting{} << QString() << QString();
    // 100 x 200 / 211.48, to its hundredth.
    QTest::newRow("scale kept as it reads") << QStringList() << QStringList{"--save", "--measured", "211.48,200"} << 0
                                            << QString() << ToolSetting{} << QString() << "ScaleXPercent=94.57\n";
}

// What --save keeps is in the units of the language the device is set to,
// whatever one cut is sent as; what a job cannot take is said once, in one
// form, and never kept where a later cut would leave it out.
void TestCommandLine::keptInTheDevicesLanguageAndToldOnce()
{
    QFETCH(QStringList, kept);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(ToolSetting, tool);
    QFETCH(QString, later);
    QFETCH(QString, fileHas);
    const QString conf = FileName(SettingsFilePath());
    const auto entry = [&](const QStringList& keys) {
        QSettings settings(conf, QSettings::IniFormat);
        settings.remove(QStringLiteral("Devices/RawCutter"));
        for (const QString& key : keys)
            settings.setValue("Devices/RawCutter/" + key.section('=', 0, 0), key.section('=', 1));
    };
    entry(kept);
    QFile::remove(Path(QStringLiteral("job.out")));
    // Whatever the row's end, the next row starts afresh.
    const auto cleanUp = qScopeGuard([&] {
        QFile::remove(Path(QStringLiteral("bad.out")));
        entry({});
    });
    const QStringList device{"--device", "RawCutter"};
    QString err;
    QCOMPARE(Run(args + device, &err), code);
    QVERIFY2(code == 0 ? err == message : err.startsWith(message), qPrintable(err));
    QVERIFY(!QFile::exists(Path(QStringLiteral("bad.out"))));
    const DeviceSettings s = RememberedSettings("RawCutter", {}).value_or(DeviceSettings{});
    QCOMPARE((ToolSetting{s.Corrections.Force, s.Corrections.Speed}), tool);
    QVERIFY2(ReadAll(conf).contains(fileHas.toUtf8()), ReadAll(conf).constData());
    QCOMPARE(Run(QStringList{"--cut", "--output", "$DIR/job.out", "--replace"} + device, &err), 0);
    QCOMPARE(err, later);
}

// Scripts saving several devices at once: every device keeps its entry,
// whether the file is there first or not. A save that read the file before
// another program changed it, within one tick of a coarse file system clock
// and to the same size, still keeps that program's change.
void TestCommandLine::parallelSavesKeepEveryDevice()
{
    constexpr int devices = 6;
    const auto name = [](int i) { return QStringLiteral("Parallel%1").arg(i); };
    const auto offset = [&](int i) {
        return RememberedSettings(StdStr(name(i)), {}).value_or(DeviceSettings{}).Corrections.BladeOffsetMm;
    };
    for (int i = 1; i <= devices; ++i)
        QVERIFY(FServer->addRawQueue(name(i)));
    const QString conf = FileName(SettingsFilePath());
    QCOMPARE(Run({"--save", "--device", "RawCutter", "--overcut", "0.5"}), 0);
    const QByteArray before = ReadAll(conf);
    for (const bool fileFirst : {false, true}) {
        if (fileFirst)
            Write(conf, before);
        else
            QFile::remove(conf);
        std::vector<std::unique_ptr<QProcess>> saves;
        for (int i = 1; i <= devices; ++i) {
            saves.push_back(std::make_unique<QProcess>());
            saves.back()->start(QStringLiteral(VELLICO_PROGRAM),
                                {"--save", "--device", name(i), "--blade-offset", QString::number(i / 10.0)});
        }
        for (const auto& p : saves) {
            QVERIFY(p->waitForFinished(30000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        for (int i = 1; i <= devices; ++i)
            QCOMPARE(offset(i), i / 10.0);
        QCOMPARE(RememberedSettings("RawCutter", {}).has_value(), fileFirst);
    }

    // Read here, then changed by another program to a file of the same size
    // and time.
    QCOMPARE(offset(1), 0.1);
    struct stat read {};
    QCOMPARE(::stat(QFile::encodeName(conf).constData(), &read), 0);
    QProcess other;
    other.start(QStringLiteral(VELLICO_PROGRAM), {"--save", "--device", name(2), "--blade-offset", "0.9"});
    QVERIFY(other.waitForFinished(30000) && other.exitCode() == 0);
    const timespec times[2] = {read.st_atim, read.st_mtim};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(conf).constData(), times, 0), 0);
    QCOMPARE(QFileInfo(conf).size(), qint64(read.st_size));
    QCOMPARE(Run({"--save", "--device", name(1), "--blade-offset", "0.8"}), 0);
    QCOMPARE(offset(2), 0.9);
    QCOMPARE(offset(1), 0.8);
    Write(conf, before);
}

// HP-GL files in the styles drawing programs write, cut to a file and decoded,
// against what an independent interpreter draws from the same file: within
// half a plotter unit on each axis plus the tolerance of a curve's chords.
void TestCommandLine::hpglFilesCutAsHp2xxDrawsThem_data()
{
    QTest::addColumn<QByteArray>("content");
    // Each file's lowest, leftmost point is a line's end, not on a curve, so
    // both drawings share their origin.
    QTest::newRow("one line, speed and force")
        << QByteArray("IN;VS10;FS50;SP1;PU400,400;PD2400,400,2400,1600,400,1600,400,400;PU800,800;PD1200,1200;PU;SP0;");
    QTest::newRow("one per line, CR LF, no final semicolon")
        << QByteArray("IN\r\nSP1\r\nPU400,400\r\nPD2000,400\r\nPD2000,2000\r\nPD1000,3000\r\nPU\r\n");
    QTest::newRow("PA and PR mixed, blanks")
        << QByteArray("IN;SP1;PA400 400;PD;PR800 0 0 800 -800 0;PA400 400;PU;PR100 100;PD50.5 0 0 50.5;PU;");
    QTest::newRow("circles and arcs") << QByteArray(
        "IN;SP1;PU400,400;PD440,400;PA1000,1000;CI400,1;CI-1500,1;PU1400,600;PD;AA1000,600,90,1;"
        "AR-100,0,-180,1;PU;");
    QTest::newRow("pen changes") << QByteArray(
        "IN;SP1;PU400,400;PD800,400;SP2;PD800,800;SP3;PU1200,400;PD1200,800;SP0;");
    // A square, a pen-up move and a line on pen 2, then 7-bit lines.
    QTest::newRow("polyline encoded") << "IN;SP1;PE<=" + PeNumbers({400, 400, 400, 0, 0, 400, -400, 0, 0, -400}) + "<"
                                             + PeNumbers({800, 800}) + ":" + PeNumbers({2, 400, -300}) + ";PE7<"
                                             + PeNumbers({100, 100, 300, 0, -150, 150}, true) + ";PR0,200;";
    QTest::newRow("large random file") << RandomPlot(5000);
    // As a graphics library writes HP-GL/2: scaling points and user units,
    // a frame, polygons edged; turned a quarter; Béziers; a diagram's circle
    // and arc.
    const QByteArray scaled = "IP0,0,8128,8128;SC0,10000,0,10000;WU1;SP1;TR0;LT;LA1,1,2,2;PW0.0832;";
    const QByteArray library = "BP;IN;PS10668;" + scaled;
    const QByteArray glyph =
        "PA1990,1867;PM0;PD;PA1962,1858,1943,1829,1933,1781,1933,1753,1943,1705,1962,1676,1990,"
        "1667,2010,1667,2038,1676,2057,1705,2067,1753,2067,1781,2057,1829,2038,1858,2010,1867,1990,"
        "1867;PM2;PU;EP;PA2000,8000;PM0;PD;PA2000,7880;PU;PM2;EP;";
    QTest::newRow("graphing library, HP-GL/2") << library + "PA2000,2000;EA8000,8000;" + glyph + "PA0,0;SP0;PG0;";
    QTest::newRow("graphing library, turned")
        << "BP;IN;PS10668;RO90;" + scaled + "PA2000,2000;EA8000,8000;" + glyph + "PA0,0;SP0;PG0;";
    QTest::newRow("Béziers") << library
                                    + "PA1000,1000;EA9000,9000;PA1424,5069;PM0;PD;BZ2292,5938,3160,4201,4028,5069;PU;"
                                      "PM2;EP;PA5764,3333;PM0;PD;BZ5764,3813,5375,4201,4896,4201,4416,4201,4028,3813,"
                                      "4028,3333;PM2;PU;EP;PA0,0;SP0;PG0;";
    QTest::newRow("diagram, circle and arc")
        << library
               + "PA2344,4375;EA3281,5000;PA3281,4688;PM0;PD;PA3906,4688;PU;PM2;EP;PA4219,4688;CI313;PA5469,5000;"
                 "PD;AA6094,5000,90;PU;PA0,0;SP0;PG0;";
}

void TestCommandLine::hpglFilesCutAsHp2xxDrawsThem()
{
    QFETCH(QByteArray, content);
    if (QStandardPaths::findExecutable(QStringLiteral("hp2xx")).isEmpty())
        QSKIP("hp2xx is not installed (scripts/setup installs it)");
    const QString plot = Path(QStringLiteral("drawing.plt")), out = Path(QStringLiteral("job.out"));
    Write(plot, content);
    QFile::remove(out);
    QString err;
    QCOMPARE(
        Run({"--cut", "--send-as", "hpgl", "--sheet", "1000x1000", "--position", "Bottom left", "--output", out, plot},
            &err),
        0);
    QCOMPARE(err, QString());
    QString error;
    const Paths cut = DecodePlotterJob(SendAs::HPGL, ReadAll(out), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const Paths drawn = DrawnByHp2xx(plot);
    QVERIFY(!drawn.empty());
    const double tolerance = std::hypot(0.5, 0.5) / 40 + 0.01;
    const double missing = Farthest(drawn, cut), extra = Farthest(cut, drawn);
    QVERIFY2(missing <= tolerance && extra <= tolerance,
             qPrintable(
                 QStringLiteral("hp2xx's drawing %1 mm from the cut, the cut %2 mm from it").arg(missing).arg(extra)));
}

// The program's own HP-GL job, cut again at the same place, is the same job.
void TestCommandLine::ownHpglJobsCutAgainAlike_data()
{
    QTest::addColumn<QStringList>("place");
    QTest::addColumn<int>("lines"); // of a plot in the sample's layout; 0 for the sample

    QTest::newRow("sample, top left") << QStringList{"--sheet", "A4"} << 0;
    QTest::newRow("sample, middle left on Letter")
        << QStringList{"--sheet", "Letter", "--position", "Middle left"} << 0;
    QTest::newRow("sample, bottom right of a roll") << QStringList{"--sheet", "600x1000", "--position", "1"} << 0;
    QTest::newRow("10,000 lines, middle top") << QStringList{"--sheet", "A4", "--position", "Middle Top"} << 10000;
}

void TestCommandLine::ownHpglJobsCutAgainAlike()
{
    QFETCH(QStringList, place);
    QFETCH(int, lines);

    QStringList first = QStringList{"--cut", "--send-as", "hpgl", "--replace", "--output", Path("first.plt")} + place;
    if (lines > 0) {
        const QStringList sample = QStrings(BuiltInSampleLines());
        QByteArray text = "IN;\n";
        for (int i = 0; i < lines - 2; ++i)
            text += sample.at(1 + i % (sample.size() - 2)).toLatin1() + '\n';
        Write(Path("large.plt"), text + "SP0;\n");
        first << Path("large.plt");
    }
    QCOMPARE(Run(first), 0);
    QCOMPARE(Run(QStringList{"--cut", "--send-as", "hpgl", "--replace", "--output", Path("again.plt")} + place
                 + QStringList{Path("first.plt")}),
             0);
    const QByteArray job = ReadAll(Path("first.plt"));
    QVERIFY(job.size() > 1000);
    QCOMPARE(ReadAll(Path("again.plt")), job);
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
    QTest::addColumn<QString>("message"); // the end of standard error
    const QString missing = QStringLiteral("Unable to open serial port: No such file or directory\\.\n");
    QTest::newRow("aborted") << "abort-job" << 1 << QStringLiteral("was aborted: ") + missing;
    QTest::newRow("queue stopped") << "stop-printer" << 1 << QStringLiteral("inside: ") + missing;
    QTest::newRow("completed") << "" << 0 << "";
    // A queue stopped by hand may be started again: said at once, waited
    // for up to the limit, the job left to the queue.
    QTest::newRow("queue stopped by hand")
        << "stopped by hand" << 1
        << "Still waiting for the job \\d+ on Stopped: Out of vinyl\\.\n"
           "Gave up after 1 s waiting for the job \\d+ on Stopped, which the queue still holds: Out of vinyl\\.\n";
    QTest::newRow("server gone while waiting")
        << "server gone" << 1
        << "Still waiting for the job \\d+ on Stopped: The print server [^\n]+\n"
           "Gave up after 3 s waiting for the job \\d+ on Stopped: The print server [^\n]+\\.\n";
}

// --wait follows the job on the queue to its end: the server's reason when
// the cutter is not there, success only once the job is done, and never a
// silent wait without end.
void TestCommandLine::waitsForTheJob()
{
    QFETCH(QString, policy);
    QFETCH(int, code);
    QFETCH(QString, message);
    const bool stopped = policy == QLatin1String("stopped by hand") || policy == QLatin1String("server gone");
    const QString queue = policy.isEmpty() ? QStringLiteral("RawCutter") : stopped ? QStringLiteral("Stopped") : policy;
    if (stopped) {
        QVERIFY(FServer->addRawQueue(queue));
        QVERIFY(FServer->run(QStringLiteral("cupsdisable"), {"-r", "Out of vinyl", queue}));
    } else if (!policy.isEmpty()) {
        QVERIFY(FServer->addRawQueue(queue, QStringLiteral("serial:/dev/ttyVellicoNone"), policy));
    }
    const int kept = int(FServer->rawJobFiles().size());
    QString err;
    int got = -1;
    if (policy == QLatin1String("server gone")) {
        // The program itself through a proxy, which goes once the job waits.
        std::optional<SlowProxy> proxy(std::in_place, FServer->socketPath());
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CUPS_SERVER"), proxy->address());
        program.setProcessEnvironment(env);
        program.setReadChannel(QProcess::StandardError);
        program.start(QStringLiteral(VELLICO_PROGRAM), {"--cut", "--wait", "--wait-limit", "3", "--device", queue});
        while (!err.contains(QLatin1String("Out of vinyl")) && program.waitForReadyRead(10000))
            err += QString::fromLocal8Bit(program.readAllStandardError());
        proxy.reset();
        if (program.waitForFinished(20000) && program.exitStatus() == QProcess::NormalExit)
            got = program.exitCode();
        err += QString::fromLocal8Bit(program.readAllStandardError());
    } else {
        got = Run(QStringList{"--cut", "--wait", "--device", queue}
                      + (stopped ? QStringList{"--wait-limit", "1"} : QStringList()),
                  &err);
    }
    QCOMPARE(got, code);
    QVERIFY2(message.isEmpty() ? err.isEmpty() : QRegularExpression(message + u'$').match(err).hasMatch(),
             qPrintable(err));
    // Done means done: the job is already at the cutter.
    QCOMPARE(int(FServer->rawJobFiles().size()), kept + (code == 0 ? 1 : 0));
    FServer->cancelAll();
}

// A pseudo-terminal as the cutter: the sample arrives in HPGL (a port's
// default) and the line is left as --port-settings set it.
void TestCommandLine::cutsOnPort()
{
    // The slave held open, so the master keeps what was sent after the program closes.
    const Terminal cutter;
    QVERIFY(cutter.Slave >= 0);
    QString err;
    const int code =
        Run({"--cut", "--device", QString::fromLocal8Bit(cutter.Path), "--port-settings", "19200,7,E,2,none"}, &err);
    termios line{};
    ::tcgetattr(cutter.Slave, &line);
    const QByteArray job = ReadAvailable(cutter.Master, 200);
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
    Terminal cutter, terminal;
    QVERIFY(cutter.Slave >= 0 && terminal.Slave >= 0);
    const pid_t pid = Spawn(
        QStringList{"--cut", "--device", QString::fromLocal8Bit(cutter.Path), "--port-settings", "115200,8,N,1,none"}
            + extra + QStringList{MovesPlot()},
        terminal.Slave);
    QVERIFY(pid > 0);

    // The terminal is read throughout.
    QByteArray shownText;
    int status = 0;
    QElapsedTimer t;
    t.start();
    qint64 firstByte = -1;
    while (::waitpid(pid, &status, WNOHANG) == 0 && t.elapsed() < 30000) {
        shownText += ReadAvailable(terminal.Master, 10);
        // The cutter takes nothing for 800 ms from the job's first byte,
        // however long the program took to get there.
        pollfd p{cutter.Master, POLLIN, 0};
        if (firstByte < 0 && ::poll(&p, 1, 0) > 0)
            firstByte = t.elapsed();
        if (firstByte >= 0 && t.elapsed() > firstByte + 800)
            ReadAvailable(cutter.Master, 0);
    }
    shownText += ReadAvailable(terminal.Master, 50);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(shownText.contains("\rSending: "), shown);
    if (shown) {
        QVERIFY2(shownText.contains(" KiB"), shownText.constData());
        QVERIFY(shownText.endsWith("\r\033[K"));
    } else {
        QCOMPARE(shownText, QByteArray());
    }
}

void TestCommandLine::signalEndsTheJobAsStopDoes_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("said"); // all of standard error
    // One wording wherever the job went; a raw queue's job is sent as it is
    // made, its size not known.
    const QString ofTotal = QStringLiteral("The job was stopped: \\d+ of \\d+ bytes sent\\.\n");
    const QString noneOfTotal = QStringLiteral("The job was stopped: 0 of \\d+ bytes sent\\.\n");
    QTest::newRow("SIGINT on a port") << "port" << SIGINT << ofTotal;
    QTest::newRow("SIGTERM on a port") << "port" << SIGTERM << ofTotal;
    QTest::newRow("SIGTERM writing a file") << "file" << SIGTERM << noneOfTotal;
    QTest::newRow("SIGHUP writing a file") << "file" << SIGHUP << noneOfTotal;
    QTest::newRow("SIGTERM writing a character device") << "device" << SIGTERM << noneOfTotal;
    QTest::newRow("SIGINT uploading to a queue")
        << "queue" << SIGINT << QStringLiteral("The job was stopped: 0 bytes sent\\.\n");
    QTest::newRow("SIGINT uploading to a driver's queue") << "driver" << SIGINT << noneOfTotal;
}

// Interrupted, the program ends the job as Stop does and says so (exit 1):
// the cutter on a port gets whole instructions and the knife lifted, a file
// is not left half-written (nor its temporary copy), the queue keeps no job.
// A port's cutter reads nothing until the signal; a file or a queue gets it
// as soon as the program can catch it, before the job is made.
void TestCommandLine::signalEndsTheJobAsStopDoes()
{
    QFETCH(QString, destination);
    QFETCH(int, signal);
    QFETCH(QString, said);
    const QString plot = MovesPlot();
    const QString out = Path(QStringLiteral("signalled.out"));
    QFile::remove(out); // left by a row that failed
    Terminal cutter;
    QVERIFY(cutter.Slave >= 0);
    const QStringList port{"--device", QString::fromLocal8Bit(cutter.Path), "--port-settings", "115200,8,N,1,none"};
    QStringList args{"--cut", "--quiet"};
    if (destination == QLatin1String("port"))
        args << port;
    else if (destination == QLatin1String("file"))
        args << QStringList{"--send-as", "hpgl", "--output", out};
    else if (destination == QLatin1String("device"))
        args << QStringList{"--send-as", "hpgl", "--output", "/dev/null"};
    else if (destination == QLatin1String("driver"))
        args << QStringList{"--device", "TestCutter", "--send-as", "driver"};
    else
        args << QStringList{"--device", "RawCutter"};
    const auto keptJobs = [&] {
        return int((destination == QLatin1String("driver") ? FServer->jobFiles() : FServer->rawJobFiles()).size());
    };
    const int kept = keptJobs();
    int errPipe[2];
    QCOMPARE(::pipe2(errPipe, O_CLOEXEC), 0);
    const pid_t pid = Spawn(args << plot, errPipe[1]);
    ::close(errPipe[1]);
    QVERIFY(pid > 0);
    QByteArray received;
    QElapsedTimer t;
    t.start();
    if (destination == QLatin1String("port")) {
        pollfd p{cutter.Master, POLLIN, 0};
        QVERIFY(::poll(&p, 1, 20000) > 0);
    } else {
        while (!Catches(pid, signal) && t.elapsed() < 20000)
            QThread::msleep(1);
    }
    QCOMPARE(::kill(pid, signal), 0);
    const int status = Finish(pid, cutter.Master, received);
    const QString err = QString::fromLocal8Bit(ReadAvailable(errPipe[0], 100));
    ::close(errPipe[0]);
    QVERIFY2(WIFEXITED(status), qPrintable(QString::number(status)));
    QCOMPARE(WEXITSTATUS(status), 1);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(said)).match(err).hasMatch(), qPrintable(err));

    if (destination == QLatin1String("port")) {
        // The job as far as it went, then the knife lifted and the pen put away.
        QString error;
        QVERIFY(!DecodePlotterJob(SendAs::HPGL, received, &error).empty());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(Run(QStringList{"--cut", "--replace", "--output", out} + port + QStringList{plot}), 0);
        const QByteArray whole = ReadAll(out);
        QVERIFY(received.endsWith("PU;\nSP0;\n"));
        QByteArray sent = received.chopped(9);
        if (sent.endsWith(";\n") && !whole.startsWith(sent))
            sent.chop(2); // the instruction ended after the pair under way
        QVERIFY(whole.startsWith(sent));
        // Never half a number: what went ends with a pair or an instruction.
        QVERIFY2(sent.endsWith('\n') || whole.at(sent.size()) == ',' || whole.at(sent.size()) == ';',
                 (sent.right(24) + " | " + whole.mid(sent.size(), 24)).constData());
        QVERIFY2(sent.size() < whole.size() / 2, qPrintable(QString::number(sent.size())));
        QFile::remove(out);
    } else if (destination == QLatin1String("file")) {
        QCOMPARE(QDir(FDir.path()).entryList({QStringLiteral("*signalled.out*")}, QDir::Files | QDir::Hidden),
                 QStringList());
    } else if (destination != QLatin1String("device")) {
        QTest::qWait(1000);
        QCOMPARE(keptJobs(), kept);
    }
}

void TestCommandLine::ownTerminalIsNoPort_data()
{
    QTest::addColumn<bool>("controlling");
    QTest::newRow("its controlling terminal") << true;
    QTest::newRow("the terminal of its standard error") << false;
}

// The program's own terminal under its everyday name is refused before it
// is opened: nothing is printed on it but the message, and its settings stay.
void TestCommandLine::ownTerminalIsNoPort()
{
    QFETCH(bool, controlling);
    Terminal own;
    QVERIFY(own.Slave >= 0);
    termios before{}, after{};
    QCOMPARE(::tcgetattr(own.Slave, &before), 0);
    int errPipe[2];
    QCOMPARE(::pipe2(errPipe, O_CLOEXEC), 0);
    const pid_t pid = Spawn({"--cut", "--device", QString::fromLocal8Bit(own.Path)},
                            controlling ? errPipe[1] : own.Slave, controlling ? own.Path : QByteArray());
    ::close(errPipe[1]);
    QVERIFY(pid > 0);
    QByteArray shown;
    const int status = Finish(pid, own.Master, shown);
    const QByteArray err = controlling ? ReadAvailable(errPipe[0], 100) : shown;
    ::close(errPipe[0]);
    QCOMPARE(::tcgetattr(own.Slave, &after), 0);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 1);
    QVERIFY2(err.contains("is this program's own terminal"), err.constData());
    QVERIFY2(!shown.contains("IN;"), shown.constData());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&after), sizeof after),
             QByteArray(reinterpret_cast<const char*>(&before), sizeof before));
}

void TestCommandLine::checksTheLineToEachCutter_data()
{
    using K = PlayedCutter::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("buffer");
    QTest::addColumn<int>("lineError");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("sentence");
    const auto line = [](const char* settings) { return QStringList{"--port-settings", settings}; };
    const QStringList none = line("9600,8,N,1,none"), xon = line("9600,8,N,1,xonxoff");
    // The sample's job is some 9 kB: a 1 kB buffer cannot hold it ($SAMPLE:
    // its size as --output writes it).
    QTest::newRow("healthy") << int(K::Answering) << 16384 << 0 << none << 0
                             << "is sound: the cutter (7475A) answers in shape and reports no error";
    QTest::newRow("small buffer, XON/XOFF") << int(K::Answering) << 1024 << 0 << xon << 0 << "is sound";
    QTest::newRow("small buffer, no flow control")
        << int(K::Answering) << 1024 << 0 << none << 1
        << "holds 1024 bytes, fewer than the $SAMPLE bytes of the sample's job, and no flow control is chosen";
    QTest::newRow("silent") << int(K::Silent) << 16384 << 0 << none + QStringList{"--answer-limit", "0.5"} << 1
                            << "did not answer at all: check the cable and the port";
    QTest::newRow("wrong speed") << int(K::WrongSpeed) << 16384 << 0 << xon << 1
                                 << "answers ESC.B in the wrong shape (its bytes are garbled";
    QTest::newRow("reports an error") << int(K::ReportsError) << 16384 << 13 << xon << 1
                                      << "reports an error (ESC.O, the paper lever is raised";
    QTest::newRow("Roland, healthy") << int(K::Answering) << 16384 << 0 << none + QStringList{"--send-as", "camm"} << 0
                                     << "is sound: the cutter answers";
    QTest::newRow("DM/PL asks nothing") << int(K::Answering) << 16384 << 0 << none + QStringList{"--send-as", "dmpl"}
                                        << 1 << "DMPL has no question a cutter answers";
    QTest::newRow("program: small buffer, no flow control")
        << int(K::Answering) << 1024 << 0 << none << 1 << "holds 1024 bytes";
    QTest::newRow("program: healthy") << int(K::Answering) << 16384 << 0 << none << 0 << "is sound";
}

// Each kind of cutter on a pseudo-terminal gets its own sentence, on
// standard output when the line is sound and as the failure otherwise, and
// the exit status says which. Only questions reach the cutter: nothing that
// moves the knife.
void TestCommandLine::checksTheLineToEachCutter()
{
    QFETCH(int, kind);
    QFETCH(int, buffer);
    QFETCH(int, lineError);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, sentence);
    if (sentence.contains(QLatin1String("$SAMPLE"))) {
        const QString job = Path(QStringLiteral("sample-size.out"));
        QCOMPARE(Run({"--cut", "--send-as", "hpgl", "--sheet", "A4", "--output", job, "--replace"}), 0);
        sentence.replace(QLatin1String("$SAMPLE"), QString::number(QFileInfo(job).size()));
        QFile::remove(job);
    }
    PlayedCutter::Setup setup;
    setup.Plays = PlayedCutter::Kind(kind);
    setup.BufferBytes = buffer;
    setup.LineError = lineError;
    PlayedCutter cutter(setup);
    QVERIFY(cutter.Valid());
    const QStringList all = QStringList{"--check-line", "--device", QString::fromStdString(cutter.Path())} + args;
    QString err, out;
    QByteArray programOut;
    const bool program = QByteArray(QTest::currentDataTag()).startsWith("program:");
    const int got = program ? RunProgram(all, &err, &programOut) : Run(all, &err, &out);
    if (program)
        out = QString::fromLocal8Bit(programOut);
    QCOMPARE(got, code);
    const QString said = code == 0 ? out : err;
    QVERIFY2(said.contains(sentence), qPrintable(err + out));
    // One sentence, one line; nothing on the other stream.
    QCOMPARE(said.count(QLatin1Char('\n')), 1);
    QCOMPARE(code == 0 ? err : out, QString());
    QVERIFY2(said.contains(QString::fromStdString('"' + cutter.Path() + '"')), qPrintable(said));
    QCOMPARE(cutter.Accepted(), std::string());
    QCOMPARE(cutter.Dropped(), 0);
    if (args.contains(QLatin1String("dmpl")))
        QCOMPARE(cutter.Questions(), 0);
}

// --identify prints every answer with its meaning (and the bytes with
// --verbose); a cutter that answers nothing fails after the questions.
void TestCommandLine::identifiesTheCutter()
{
    PlayedCutter::Setup setup;
    setup.BufferBytes = 1024;
    setup.Model = "7550A";
    PlayedCutter cutter(setup);
    QVERIFY(cutter.Valid());
    const QString port = QString::fromStdString(cutter.Path());
    QString err, out;
    QCOMPARE(Run({"--identify", "--device", port, "--port-settings", "9600,8,N,1,none"}, &err, &out), 0);
    QCOMPARE(err, QString());
    QVERIFY2(out.contains(QLatin1String("Model (OI): 7550A\n")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("Buffer size (ESC.L): 1024 bytes\n")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("Status (ESC.O): 8 (the buffer is empty)\n")), qPrintable(out));
    QCOMPARE(out.count(QLatin1Char('\n')), 7);
    QVERIFY(!out.contains(QLatin1String("received")));
    QCOMPARE(Run({"--identify", "--device", port, "--verbose"}, &err, &out), 0);
    QVERIFY2(out.contains(QLatin1String("Model (OI): 7550A [sent \"OI;\", received \"7550A\"]")), qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("[sent \"\\x1b.L\", received \"1024\"]")), qPrintable(out));
    QCOMPARE(Run({"--identify", "--device", port, "--send-as", "camm"}, &err, &out), 0);
    QVERIFY2(out.contains(QLatin1String("Model: not asked: CAMM-GL has no such question")), qPrintable(out));
    QCOMPARE(cutter.Accepted(), std::string());

    setup.Plays = PlayedCutter::Kind::Silent;
    PlayedCutter silent(setup);
    QVERIFY(silent.Valid());
    QCOMPARE(
        Run({"--identify", "--device", QString::fromStdString(silent.Path()), "--answer-limit", "0.2"}, &err, &out), 1);
    QCOMPARE(out.count(QLatin1String(": no answer\n")), 7);
    QVERIFY2(err.contains(QLatin1String("did not answer at all")), qPrintable(err));
}

// A named pipe hands its reader the whole job; a device node (/dev/null's
// numbers) takes it and stays a node. Neither needs --replace.
void TestCommandLine::writesPipesAndDevicesAsTheyAre()
{
    const QString pipe = Path(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QByteArray received;
    std::thread reader([&] {
        QFile f(pipe);
        if (f.open(QIODevice::ReadOnly))
            received = f.readAll();
    });
    QString err;
    const int code = Run({"--cut", "--send-as", "hpgl", "--output", pipe}, &err);
    reader.join();
    QCOMPARE(code, 0);
    QCOMPARE(err, QString());
    QString error;
    QCOMPARE(int(DecodePlotterJob(SendAs::HPGL, received, &error).size()), 51);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile());
    QFile::remove(pipe);

    const QString device = Path(QStringLiteral("null"));
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, ::makedev(1, 3)) != 0)
        QSKIP("making device nodes is not permitted here");
    QCOMPARE(Run({"--cut", "--send-as", "hpgl", "--output", device}, &err), 0);
    QCOMPARE(err, QString());
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(device).constData(), &st), 0);
    QVERIFY(S_ISCHR(st.st_mode) && st.st_rdev == ::makedev(1, 3));
    QFile::remove(device);
}

// Another program makes the file after the check, while the job is drawn:
// its file stays, and the cut is reported like any existing file.
void TestCommandLine::aFileMadeDuringTheCutIsKept()
{
    const QString out = Path(QStringLiteral("race.out"));
    SetJobFileCommitHook([&] { Write(out, "made meanwhile"); });
    QString err;
    const int code = Run({"--cut", "--send-as", "hpgl", "--output", out}, &err);
    SetJobFileCommitHook({});
    QCOMPARE(code, 1);
    QVERIFY2(err.contains(QStringLiteral("race.out\" already exists")), qPrintable(err));
    QCOMPARE(ReadAll(out), QByteArray("made meanwhile"));
    QCOMPARE(QDir(FDir.path()).entryList({QStringLiteral("*race*")}, QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("race.out")});
    QFile::remove(out);
}

// Names that are not UTF-8 are the user's files all the same: read and
// written under their own bytes, never under a look-alike.
void TestCommandLine::fileNamesKeepTheirBytes()
{
    // Every byte string comes back as it was; UTF-8 reads as UTF-8 (a
    // supplementary character's low half is no escaped byte).
    for (const QByteArray& bytes :
         {QByteArray("caf\xc3\xa9 \xf0\x90\x82\x80.plt"), QByteArray("\xc0\x80 overlong"),
          QByteArray("\xed\xa0\x80 surrogate"), QByteArray("cut short \xe2\x82"), QByteArray("\x80\xff\xf5")}) {
        const QString name = FileNameFromNative(bytes);
        QCOMPARE(NativeFileName(name), bytes);
        QCOMPARE(name == QString::fromUtf8(bytes), bytes.isValidUtf8());
    }
    const QByteArray dir = QFile::encodeName(FDir.path());
    const QByteArray out = dir + "/x\xff.plt", lookAlike = dir + "/x\xef\xbf\xbd.plt";
    const auto write = [](const QByteArray& name, const QByteArray& bytes) {
        std::FILE* f = std::fopen(name.constData(), "wb");
        return f && std::fwrite(bytes.constData(), 1, bytes.size(), f) == size_t(bytes.size()) && std::fclose(f) == 0;
    };
    if (!write(dir + "/pl\xff.plt", ReadAll(Path(QStringLiteral("box.plt")))))
        QSKIP("this file system takes only UTF-8 names");
    QVERIFY(write(out, "an older job") && write(lookAlike, "someone else's"));
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec \"$0\" --cut --send-as hpgl --replace --output "
                                "\"$1/x$(printf '\\377').plt\" \"$1/pl$(printf '\\377').plt\""),
                 QStringLiteral(VELLICO_PROGRAM), FDir.path()});
    QVERIFY(shell.waitForFinished(30000));
    QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
    std::FILE* f = std::fopen(out.constData(), "rb");
    QVERIFY(f);
    QByteArray job(1 << 16, '\0');
    job.truncate(qsizetype(std::fread(job.data(), 1, job.size(), f)));
    std::fclose(f);
    QString error;
    QCOMPARE(int(DecodePlotterJob(SendAs::HPGL, job, &error).size()), 1);
    QCOMPARE(ReadAll(QFile::decodeName(lookAlike)), QByteArray("someone else's"));
    for (const QByteArray& name : {dir + "/pl\xff.plt", out, lookAlike})
        QCOMPARE(::unlink(name.constData()), 0);
}

void TestCommandLine::helpAndVersion()
{
    QString out;
    QCOMPARE(Run({"--help"}, nullptr, &out), 0);
    QVERIFY(out.contains(QStringLiteral("--send-as")));
    QCOMPARE(Run({"--version"}, nullptr, &out), 0);
    QCOMPARE(out, QStringLiteral("Vellico Output Test 1.02\n"));
}

// The job comes out on standard output, and the window never starts.
void TestCommandLine::programNeedsNoDisplay()
{
    QString err;
    QByteArray out;
    const QString loaded = Path(QStringLiteral("loaded-by-cut"));
    QCOMPARE(RunProgram({"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + loaded, "--cut", "--send-as", "dmpl", "--output", "-"},
                        &err, &out),
             0);
    QCOMPARE(err, QString());
    QString error;
    QCOMPARE(int(DecodePlotterJob(SendAs::DMPL, out, &error).size()), 51);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Nor is any Qt library loaded, not even Qt Core: a cut starts without
    // the toolkit at all.
    const QByteArray files = LoadedLibraries(loaded);
    QVERIFY2(files.contains("libvellico_core"), files.constData());
    for (const char* library : {"libQt6", "libicu", "libvellico_ui", "libvellico_pdf"})
        QVERIFY2(!files.contains(library), library);
}

// The program loads the window's library and opens the window.
void TestCommandLine::windowOpensFromTheProgram()
{
    const QString loaded = Path(QStringLiteral("loaded-by-window"));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    env.insert(QStringLiteral("LD_DEBUG_OUTPUT"), loaded);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VELLICO_PROGRAM), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(LoadedLibraries(loaded).contains("libQt6Widgets"), 20000);
    // Still running: it found what it calls in the library.
    QVERIFY2(!program.waitForFinished(1000), program.readAllStandardError().constData());
    // Asked to end, it closes its window and says it was stopped (exit 1).
    program.terminate();
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
