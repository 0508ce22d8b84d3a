// Device name and queue status against a private CUPS server.

#include "common/Exceptions.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceCapabilities.h"
#include "platform/JobProgress.h"
#include "platform/PrinterObject.h"
#include "platform/SpoolerBackend.h"
#include "platform/cups/UserDefault.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/PrivateCupsServer.h"
#include "tests/support/SlowProxy.h"
#include "tests/support/StdText.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include <sys/stat.h>

class TestPrinterStatus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void defaultDevice();
    void queueWithJobs_data();
    void queueWithJobs();
    void otherDeviceChosen();
    void deviceRemovedWhileInUse();
    void destinationsListed();
    void userDefaultAsLpstatSees_data();
    void userDefaultAsLpstatSees();
    void slowServerIsNoFailure();
    void stoppedUploadLeavesNoJob();

private:
    void Select(const QString& queue);
    QString TimedStatus();

    std::unique_ptr<PrivateCupsServer> FServer;
    TPLT FSample;
};

void TestPrinterStatus::initTestCase()
{
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    ReadPlotText(FSample, BuiltInSampleLines());
}

void TestPrinterStatus::cleanupTestCase()
{
    FServer.reset();
}

void TestPrinterStatus::Select(const QString& queue)
{
    Printer().SetPrinter({StdStr(queue), {}, {}}, DefaultSettings(StdStr(queue)));
}

// Every tick must stay well inside the 200 ms timer period.
QString TestPrinterStatus::TimedStatus()
{
    QElapsedTimer t;
    t.start();
    const QString s = QStr(GetQueueStatus());
    if (t.elapsed() >= 100)
        qWarning("status took %lld ms", static_cast<long long>(t.elapsed()));
    return s;
}

void TestPrinterStatus::defaultDevice()
{
    QCOMPARE(QStr(GetPrinterName()), QStringLiteral("TestCutter"));
    QCOMPARE(TimedStatus(), QStringLiteral("No jobs in queue"));
}

void TestPrinterStatus::queueWithJobs_data()
{
    QTest::addColumn<QStringList>("lpArgs");
    QTest::addColumn<bool>("stopQueue");
    // Our own job kept pending by a stopped queue, and another user's job
    // held on a running one: any job in any state counts.
    QTest::newRow("pending on a stopped queue") << QStringList() << true;
    QTest::newRow("held") << QStringList{QStringLiteral("-U"), QStringLiteral("someoneelse"), QStringLiteral("-H"),
                                         QStringLiteral("indefinite")}
                          << false;
}

void TestPrinterStatus::queueWithJobs()
{
    QFETCH(QStringList, lpArgs);
    QFETCH(bool, stopQueue);
    Select(QStringLiteral("TestCutter"));
    if (stopQueue) {
        QVERIFY(FServer->disableQueue(QStringLiteral("TestCutter")));
        PrintPlot(FSample, ActiveDeviceRequest(2));
    } else {
        const QString file = FServer->dir() + QStringLiteral("/page.ps");
        QFile ps(file);
        QVERIFY(ps.open(QIODevice::WriteOnly));
        ps.write("%!PS\nshowpage\n");
        ps.close();
        QString out;
        QVERIFY2(FServer->run(QStringLiteral("lp"),
                              lpArgs + QStringList{QStringLiteral("-d"), QStringLiteral("TestCutter"), file}, &out),
                 qPrintable(out));
    }
    QCOMPARE(TimedStatus(), QStringLiteral("Print"));
    QVERIFY(FServer->cancelAll());
    QCOMPARE(TimedStatus(), QStringLiteral("No jobs in queue"));
    QVERIFY(FServer->enableQueue(QStringLiteral("TestCutter")));
}

void TestPrinterStatus::otherDeviceChosen()
{
    QVERIFY(FServer->addQueue(QStringLiteral("Second")));
    QVERIFY(FServer->disableQueue(QStringLiteral("Second")));
    Select(QStringLiteral("Second"));
    QCOMPARE(QStr(GetPrinterName()), QStringLiteral("Second"));
    PrintPlot(FSample, ActiveDeviceRequest(0));
    QCOMPARE(TimedStatus(), QStringLiteral("Print"));
    // The default queue is untouched by the job.
    Select(QStringLiteral("TestCutter"));
    QCOMPARE(TimedStatus(), QStringLiteral("No jobs in queue"));
    QVERIFY(FServer->cancelAll());
}

void TestPrinterStatus::deviceRemovedWhileInUse()
{
    QVERIFY(FServer->addQueue(QStringLiteral("Doomed")));
    Select(QStringLiteral("Doomed"));
    QCOMPARE(TimedStatus(), QStringLiteral("No jobs in queue"));
    QVERIFY(FServer->deleteQueue(QStringLiteral("Doomed")));
    for (int tick = 0; tick < 3; ++tick) {
        try {
            TimedStatus();
            QFAIL("status of a removed queue");
        } catch (const EOSError& e) {
            QCOMPARE(e.ErrorCode(), 0x0406); // client-error-not-found
            QCOMPARE(QStr(e.Message()),
                     QStringLiteral("System Error.  Code: 1030.\r\nThe printer or class does not exist"));
        }
    }
    QCOMPARE(QStr(GetPrinterName()), QString());
    QVERIFY_THROWS_EXCEPTION(EOSError, OpenActivePrinter());
}

void TestPrinterStatus::destinationsListed()
{
    const auto list = ListDestinations();
    QStringList names;
    QString defaultName;
    for (const auto& d : list) {
        names << QStr(d.Name);
        if (d.IsDefault)
            defaultName = QStr(d.Name);
    }
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("Second"), QStringLiteral("TestCutter")}));
    QCOMPARE(defaultName, QStringLiteral("TestCutter"));
    QCOMPARE(QStr(list.front().Info.DriverName), QStringLiteral("Vellico Test Cutter"));
}

void TestPrinterStatus::userDefaultAsLpstatSees_data()
{
    QTest::addColumn<QString>("lpdest"); // null: unset
    QTest::addColumn<QString>("printer");
    QTest::addColumn<QString>("userOptions"); // "<fifo>": a named pipe in its place
    QTest::addColumn<QString>("systemOptions");
    QTest::addColumn<QString>("expected"); // empty: the server's default
    QTest::addColumn<QString>("refusal");  // what a value naming no queue is told
    const QString none;
    QTest::newRow("server's default") << none << none << none << none << none << none;
    QTest::newRow("LPDEST first") << "Second"
                                  << "TestCutter"
                                  << "Default TestCutter\n"
                                  << none << "Second" << none;
    QTest::newRow("then PRINTER") << none << "Second"
                                  << "Default TestCutter\n"
                                  << none << "Second" << none;
    QTest::newRow("PRINTER=lp means nothing") << none << "lp" << none << none << none << none;
    QTest::newRow("user's lpoptions, instance dropped")
        << none << none << "Dest TestCutter media=a4\nDefault Second/wide sides=one-sided\n"
        << "Default TestCutter\n"
        << "Second" << none;
    QTest::newRow("system's lpoptions") << none << none << none << "Default Second\n"
                                        << "Second" << none;
    QTest::newRow("a pipe for lpoptions is passed over") << none << none << "<fifo>"
                                                         << "Default Second\n"
                                                         << "Second" << none;
    // Queues, never a port, and never the server's default instead.
    QTest::newRow("LPDEST a port's path") << "/dev/ttyUSB0" << none << none << none << none
                                          << "\"/dev/ttyUSB0\", named by LPDEST, is not the name of a printer";
    QTest::newRow("PRINTER empty") << none << "" << none << "Default Second\n" << none << "PRINTER is empty";
    // Set, even empty, LPDEST is the one that counts: PRINTER is not asked.
    QTest::newRow("LPDEST empty before PRINTER") << ""
                                                 << "Second" << none << none << none << "LPDEST is empty";
    QTest::newRow("lpoptions naming a path") << none << none << "Default /dev/usb/lp0\n"
                                             << none << none << "named by the Default line of ";
    // Still the active device, as for lp; a job on it names it.
    QTest::newRow("LPDEST a queue the server lacks")
        << "Gone" << none << none << none << "Gone"
        << "Printer selected is not valid: \"Gone\", named by LPDEST, is not a printer on the server";
}

// What lp and lpstat -d pick, the program picks: scripts/run decides by one,
// the window shows the other. What they refuse, it refuses.
void TestPrinterStatus::userDefaultAsLpstatSees()
{
    QFETCH(QString, lpdest);
    QFETCH(QString, printer);
    QFETCH(QString, userOptions);
    QFETCH(QString, systemOptions);
    QFETCH(QString, expected);
    QFETCH(QString, refusal);
    if (!FServer->addQueue(QStringLiteral("Second")))
        QVERIFY(ListDestinations().size() == 2);
    QTemporaryDir home, serverRoot;
    const auto write = [](const QString& path, const QString& text) {
        if (text.isEmpty())
            return;
        QDir().mkpath(QFileInfo(path).path());
        if (text == QLatin1String("<fifo>")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            return;
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    };
    write(home.filePath(QStringLiteral(".cups/lpoptions")), userOptions);
    write(serverRoot.filePath(QStringLiteral("lpoptions")), systemOptions);
    const QList<QPair<const char*, QString>> env = {
        {"LPDEST", lpdest}, {"PRINTER", printer}, {"HOME", home.path()}, {"CUPS_SERVERROOT", serverRoot.path()}};
    QList<QPair<const char*, std::optional<QByteArray>>> saved;
    for (const auto& [name, value] : env) {
        saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }
    const vcups::UserDefault ours = vcups::UserDefaultDestination();
    QString refused;
    QString device;
    try {
        device = QStr(DefaultQueue().Identity.Device);
        OpenQueueJob(StdStr(device), DefaultSettings("TestCutter"), std::string());
    } catch (const EPrinter& e) {
        refused = QStr(e.Message());
    }
    // lpstat itself would wait on the pipe: the system's line speaks for it.
    QString lpstat = QStringLiteral("system default destination: ") + expected;
    const bool ran = userOptions == QLatin1String("<fifo>")
                     || FServer->run(QStringLiteral("lpstat"), {QStringLiteral("-d")}, &lpstat);
    for (const auto& [name, value] : saved) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    QVERIFY2(ran, qPrintable(lpstat));
    QCOMPARE(ours.Name, expected);
    QCOMPARE(refused.isEmpty(), refusal.isEmpty());
    QVERIFY2(refused.contains(refusal), qPrintable(refused));
    if (!refusal.isEmpty()) {
        // lpstat too, for the variables; for an lpoptions path it shows the
        // server's default with the path as an instance, which we refuse.
        QVERIFY2(lpstat.contains(QLatin1String("error")) || !userOptions.isEmpty(), qPrintable(lpstat));
        return;
    }
    const QString shown = expected.isEmpty() ? QStringLiteral("TestCutter") : expected;
    QCOMPARE(device, shown);
    // lpstat names the instance too; it prints on the same queue.
    QCOMPARE(lpstat.trimmed().section(QLatin1Char('/'), 0, 0), QStringLiteral("system default destination: ") + shown);
}

// Remote servers and busy local ones answer in tens of milliseconds; a reply
// to Print-Job may come after the job's limit. Neither is a failure, unless
// the queue holds no new job then.
void TestPrinterStatus::slowServerIsNoFailure()
{
    SlowProxy proxy(FServer->socketPath());
    QVERIFY(proxy.isValid());
    const QByteArray direct = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", proxy.address().toLatin1());
    const SpoolerTimeLimits defaults = CurrentSpoolerTimeLimits();
    const int before = int(FServer->jobFiles().size());
    QVERIFY(FServer->addQueue(QStringLiteral("Refusing")) && FServer->rejectJobs(QStringLiteral("Refusing")));

    proxy.setReplyDelayMs(90);
    Select(QStringLiteral("TestCutter"));
    QCOMPARE(QStr(GetPrinterName()), QStringLiteral("TestCutter"));
    QCOMPARE(QStr(GetQueueStatus()), QStringLiteral("No jobs in queue"));
    const PrintResult slow = PrintPlot(FSample, ActiveDeviceRequest(2));
    // The device answered, its jobs too late: reported, never an empty queue.
    proxy.setReplyDelayMs(600);
    SetSpoolerTimeLimits({std::chrono::milliseconds(1000), defaults.Job});
    QVERIFY_THROWS_EXCEPTION(EOSError, GetQueueStatus());

    // The job's answer comes after its limit: the queue is asked, and holds it.
    proxy.setReplyDelayMs(700);
    SetSpoolerTimeLimits({std::chrono::milliseconds(3000), std::chrono::milliseconds(400)});
    QElapsedTimer t;
    t.start();
    const PrintResult found = PrintPlot(FSample, ActiveDeviceRequest(2));
    const qint64 late = t.elapsed();
    // The same with the job still waiting on a stopped queue.
    QVERIFY(FServer->disableQueue(QStringLiteral("TestCutter")));
    const PrintResult held = PrintPlot(FSample, ActiveDeviceRequest(2));
    QVERIFY(FServer->cancelAll() && FServer->enableQueue(QStringLiteral("TestCutter")));
    // A late answer with no new job of ours on the queue is a failure.
    Select(QStringLiteral("Refusing"));
    QString refused;
    try {
        PrintPlot(FSample, ActiveDeviceRequest(2));
    } catch (const EOSError& e) {
        refused = QStr(e.Message());
    }
    SetSpoolerTimeLimits(defaults);
    qputenv("CUPS_SERVER", direct);
    QVERIFY2(late >= 400, "the answer was not late");
    QVERIFY2(refused.contains(QLatin1String("did not answer in time")), qPrintable(refused));
    QVERIFY(FServer->waitForJobFiles(before + 2));
    QTest::qWait(300);
    QCOMPARE(int(FServer->jobFiles().size()), before + 2);
    // Each Cut tells back its own job, to be followed: the kept ones by their
    // files (job-<id>.pdf), the held one as the newest.
    const auto keptId = [this](int i) {
        return QFileInfo(FServer->jobFiles()[i]).completeBaseName().section(u'-', 1).toInt();
    };
    QCOMPARE(QStr(slow.Job.Device), QStringLiteral("TestCutter"));
    QCOMPARE(slow.Job.Id, keptId(before));
    QCOMPARE(QStr(found.Job.Device), QStringLiteral("TestCutter"));
    QCOMPARE(found.Job.Id, keptId(before + 1));
    QCOMPARE(QStr(held.Job.Device), QStringLiteral("TestCutter"));
    QVERIFY(held.Job.Id > found.Job.Id);
}

// A raw job is uploaded while it is drawn; stopped half way, the server is
// left without a job to print.
void TestPrinterStatus::stoppedUploadLeavesNoJob()
{
    QVERIFY(FServer->addRawQueue(QStringLiteral("Raw")));
    Printer().SetPrinter({"Raw", {}, {}}, DefaultSettings("Raw"));
    TPLT large; // some 20 MB of HPGL
    for (int i = 0; i < 1000000; ++i) {
        large.AddPolygon();
        large.AddPoint({i % 10000, i % 9000});
        large.AddPoint({i % 10000 + 50, i % 9000 + 50});
    }
    std::atomic<bool> done{false};
    std::thread stopper([&done] {
        for (JobProgress p; !done && !(p.Sending && p.Sent > 0); p = CurrentJobProgress())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        StopJobs();
    });
    QString failure;
    try {
        PrintPlot(large, ActiveDeviceRequest(2));
    } catch (const Exception& e) {
        failure = QStr(e.Message());
    }
    done = true;
    stopper.join();
    QVERIFY2(failure.contains(QLatin1String("stopped")), qPrintable(failure));
    QTest::qWait(500);
    QCOMPARE(QStr(GetQueueStatus()), QStringLiteral("No jobs in queue"));
    QVERIFY(FServer->rawJobFiles().isEmpty());
    Select(QStringLiteral("TestCutter"));
}

QTEST_GUILESS_MAIN(TestPrinterStatus)
#include "test_printer_status.moc"
