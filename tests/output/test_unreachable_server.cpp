// A printer object with no device at all, and print servers that are gone or
// never answer: every status and name query comes back within its limit and
// says what is wrong. Its own process, so the printer object has never seen
// a device.

#include "common/Exceptions.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "tests/support/PrivateCupsServer.h"
#include "tests/support/StdText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QString NoDefault = QStringLiteral("There is no default printer currently selected");

// Queries here get a short limit; a tick must end soon after it, never hang
// the way an unbounded libcups call would.
constexpr auto QueryLimit = std::chrono::milliseconds(300);

class TickTimes {
public:
    static constexpr qint64 HangMs = 1000;
    void Add(qint64 ms) { FTimes.push_back(ms); }
    bool Bounded() const { return !FTimes.empty() && *std::max_element(FTimes.begin(), FTimes.end()) < HangMs; }
    QString Describe() const
    {
        QStringList parts;
        for (qint64 t : FTimes)
            parts << QString::number(t);
        return QStringLiteral("tick times (ms): ") + parts.join(QLatin1Char(' '));
    }

private:
    std::vector<qint64> FTimes;
};

// A listening socket that never accepts or reads: connecting succeeds (the
// kernel completes it) and then nothing ever answers.
class SilentListener {
public:
    explicit SilentListener(bool tcp, bool keepListening = true)
    {
        if (tcp) {
            FFd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t len = sizeof a;
            bind(FFd, reinterpret_cast<sockaddr*>(&a), len);
            listen(FFd, 16);
            getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
            FAddress = QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port));
        } else {
            FAddress = FDir.path() + QStringLiteral("/silent.sock");
            FFd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            qstrncpy(a.sun_path, FAddress.toLocal8Bit().constData(), sizeof a.sun_path);
            bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            listen(FFd, 16);
        }
        if (!keepListening) { // a port or path where nobody listens any more
            ::close(FFd);
            FFd = -1;
        }
    }
    ~SilentListener()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    QString Address() const { return FAddress; }

private:
    QTemporaryDir FDir;
    int FFd = -1;
    QString FAddress;
};

// How long fn takes, in ms.
qint64 Timed(const std::function<void()>& fn)
{
    QElapsedTimer t;
    t.start();
    fn();
    return t.elapsed();
}

// Five status ticks in a row, as the timer would run them; the failure
// message of each (empty when a tick succeeded).
QStringList FiveTicks(TickTimes& times)
{
    QStringList messages;
    for (int tick = 0; tick < 5; ++tick) {
        QString message;
        times.Add(Timed([&] {
            try {
                GetQueueStatus();
            } catch (const Exception& e) {
                message = QStr(e.Message());
            }
        }));
        messages << message;
    }
    return messages;
}

} // namespace

class TestUnreachableServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void noDestinationAtAll();
    void destinationListFailsLoudly();
    void noServerNoDevice_data();
    void noServerNoDevice();
    void noServerChosenDevice_data();
    void noServerChosenDevice();
    void serverEndsWithAKilledTest();

private:
    void Servers();
    void UseServer(int kind);

    std::unique_ptr<PrivateCupsServer> FServer;
    std::unique_ptr<SilentListener> FListener;
};

void TestUnreachableServer::initTestCase()
{
    SetSpoolerTimeLimits({QueryLimit, QueryLimit});
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->deleteQueue(QStringLiteral("TestCutter")));
    // Rerun to be killed: the server stays up until the kill comes, however
    // slowly its parent looks for it on a busy machine.
    if (qEnvironmentVariableIsSet("VELLICO_WAIT_TO_BE_KILLED"))
        QThread::sleep(120);
}

void TestUnreachableServer::cleanupTestCase()
{
    FListener.reset();
    FServer.reset();
}

void TestUnreachableServer::noDestinationAtAll()
{
    const auto expectNoDefault = [](const std::function<void()>& fn) {
        try {
            fn();
            QFAIL("no error without any destination");
        } catch (const EPrinter& e) {
            QCOMPARE(QStr(e.Message()), NoDefault);
        }
    };
    expectNoDefault([] { GetPrinterName(); });
    expectNoDefault([] { GetQueueStatus(); });
    expectNoDefault([] { OpenActivePrinter(); });
    expectNoDefault([] { PrintPlot(TPLT(), ActiveDeviceRequest(2)); });
    QVERIFY(!Printer().Printing());
}

enum Kind { SilentUnix, SilentTcp, GoneUnix, ClosedTcp, UnknownHost };

// A server with no destinations gives an empty list; a server that cannot be
// reached is an error, never an empty list that looks like "no printers".
void TestUnreachableServer::destinationListFailsLoudly()
{
    QVERIFY(ListDestinations().empty());
    for (int kind : {GoneUnix, ClosedTcp}) {
        UseServer(kind);
        try {
            ListDestinations();
            QFAIL("a server that is gone listed no destinations without an error");
        } catch (const EOSError& e) {
            QCOMPARE(
                e.Message(),
                QStringLiteral("System Error.  Code: 1282.\r\nThe print server is not running or cannot be reached"));
        }
    }
    FListener.reset();
    qputenv("CUPS_SERVER", FServer->socketPath().toLocal8Bit());
}

void TestUnreachableServer::Servers()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("why");
    const QString late = QStringLiteral("The print server did not answer in time");
    const QString gone = QStringLiteral("The print server is not running or cannot be reached");
    QTest::newRow("unix socket that never answers") << int(SilentUnix) << late;
    QTest::newRow("loopback port that never answers") << int(SilentTcp) << late;
    QTest::newRow("socket path with no server") << int(GoneUnix) << gone;
    QTest::newRow("loopback port with no server") << int(ClosedTcp) << gone;
    QTest::newRow("host name that does not resolve")
        << int(UnknownHost) << QStringLiteral("The print server vellico-no-such-host.invalid cannot be found");
}

void TestUnreachableServer::UseServer(int kind)
{
    FListener.reset();
    QString address;
    switch (kind) {
    case SilentUnix: FListener = std::make_unique<SilentListener>(false); break;
    case SilentTcp: FListener = std::make_unique<SilentListener>(true); break;
    case GoneUnix: FListener = std::make_unique<SilentListener>(false, false); break;
    case ClosedTcp: FListener = std::make_unique<SilentListener>(true, false); break;
    default: address = QStringLiteral("vellico-no-such-host.invalid:631"); break;
    }
    if (FListener)
        address = FListener->Address();
    qputenv("CUPS_SERVER", address.toLocal8Bit());
}

void TestUnreachableServer::noServerNoDevice_data()
{
    Servers();
}

// A server that cannot be asked is not a server without printers.
void TestUnreachableServer::noServerNoDevice()
{
    QFETCH(int, kind);
    QFETCH(QString, why);
    UseServer(kind);
    TickTimes times;
    for (const QString& message : FiveTicks(times))
        QCOMPARE(message, QStringLiteral("System Error.  Code: 1282.\r\n") + why);
    QVERIFY2(times.Bounded(), qPrintable(times.Describe()));
}

void TestUnreachableServer::noServerChosenDevice_data()
{
    Servers();
}

void TestUnreachableServer::noServerChosenDevice()
{
    QFETCH(int, kind);
    QFETCH(QString, why);
    UseServer(kind);
    Printer().SetPrinter({"TestCutter", {}, {}}, DeviceSettings{});
    TickTimes times;
    for (const QString& message : FiveTicks(times))
        QCOMPARE(message, QStringLiteral("System Error.  Code: 1282.\r\n") + why);
    QVERIFY2(times.Bounded(), qPrintable(times.Describe()));
    QString name = QStringLiteral("unset");
    const qint64 ms = Timed([&] { name = QStr(GetPrinterName()); });
    QVERIFY2(ms < TickTimes::HangMs, qPrintable(QStringLiteral("name query took %1 ms").arg(ms)));
    QCOMPARE(name, QString());
}

// This program run again and killed outright while its server starts, as
// CTest kills a test at its time limit: the server ends with it.
void TestUnreachableServer::serverEndsWithAKilledTest()
{
    QTemporaryDir temporary;
    QProcess test;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temporary.path());
    env.insert(QStringLiteral("VELLICO_WAIT_TO_BE_KILLED"), QStringLiteral("1"));
    test.setProcessEnvironment(env);
    test.start(QCoreApplication::applicationFilePath(), {QStringLiteral("noDestinationAtAll")});
    QString server; // its /proc folder, once its PID is written
    QElapsedTimer t;
    t.start();
    while (server.isEmpty() && t.elapsed() < 60000 && test.state() != QProcess::NotRunning) {
        for (const QString& dir : QDir(temporary.path()).entryList({QStringLiteral("vcups-*")}, QDir::Dirs)) {
            // The file exists before its number is written: an empty read is
            // not yet the PID.
            QFile pid(temporary.filePath(dir + QStringLiteral("/cupsd.pid")));
            if (pid.open(QIODevice::ReadOnly))
                if (const QByteArray number = pid.readAll().trimmed(); !number.isEmpty())
                    server = QStringLiteral("/proc/") + QString::fromLatin1(number);
        }
        QThread::msleep(2);
    }
    QVERIFY(server.size() > 6);
    test.kill();
    QVERIFY(test.waitForFinished());
    QCOMPARE(test.exitStatus(), QProcess::CrashExit);
    // Gone, or a zombie that no longer runs.
    const auto running = [&server] {
        QFile stat(server + QStringLiteral("/stat"));
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    };
    const qint64 killed = t.elapsed();
    while (running() && t.elapsed() < killed + 20000)
        QThread::msleep(20);
    const bool left = running();
    if (left)
        ::kill(server.mid(6).toInt(), SIGKILL);
    QVERIFY2(!left, "the killed test's cupsd is still running");
    QTest::qWait(500); // the harness that started it gives up
}

QTEST_GUILESS_MAIN(TestUnreachableServer)
#include "test_unreachable_server.moc"
