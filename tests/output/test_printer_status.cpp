// Device name and queue status against a private CUPS server.

#include "common/Exceptions.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceCapabilities.h"
#include "platform/PrinterObject.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/PrivateCupsServer.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

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
    Printer().SetPrinter({queue, {}, {}}, DefaultSettings(queue));
}

// Every tick must stay well inside the 200 ms timer period.
QString TestPrinterStatus::TimedStatus()
{
    QElapsedTimer t;
    t.start();
    const QString s = GetQueueStatus();
    if (t.elapsed() >= 100)
        qWarning("status took %lld ms", static_cast<long long>(t.elapsed()));
    return s;
}

void TestPrinterStatus::defaultDevice()
{
    QCOMPARE(GetPrinterName(), QStringLiteral("TestCutter"));
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
                                         QStringLiteral("indefinite")} << false;
}

void TestPrinterStatus::queueWithJobs()
{
    QFETCH(QStringList, lpArgs);
    QFETCH(bool, stopQueue);
    Select(QStringLiteral("TestCutter"));
    if (stopQueue) {
        QVERIFY(FServer->disableQueue(QStringLiteral("TestCutter")));
        PrintPlot(FSample, 2);
    } else {
        const QString file = FServer->dir() + QStringLiteral("/page.ps");
        QFile ps(file);
        QVERIFY(ps.open(QIODevice::WriteOnly));
        ps.write("%!PS\nshowpage\n");
        ps.close();
        QString out;
        QVERIFY2(FServer->run(QStringLiteral("lp"), lpArgs + QStringList{QStringLiteral("-d"), QStringLiteral("TestCutter"), file}, &out),
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
    QCOMPARE(GetPrinterName(), QStringLiteral("Second"));
    PrintPlot(FSample, 0);
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
            QCOMPARE(e.ErrorCode(), 0x0406);   // client-error-not-found
            QCOMPARE(e.Message(), QStringLiteral("System Error.  Code: 1030.\r\nThe printer or class does not exist"));
        }
    }
    QCOMPARE(GetPrinterName(), QString());
    QVERIFY_THROWS_EXCEPTION(EOSError, OpenActivePrinter());
}

void TestPrinterStatus::destinationsListed()
{
    const auto list = ListDestinations();
    QStringList names;
    QString defaultName;
    for (const auto& d : list) {
        names << d.Name;
        if (d.IsDefault)
            defaultName = d.Name;
    }
    names.sort();
    QCOMPARE(names, (QStringList{QStringLiteral("Second"), QStringLiteral("TestCutter")}));
    QCOMPARE(defaultName, QStringLiteral("TestCutter"));
    QCOMPARE(list.front().Info.DriverName, QStringLiteral("Vellico Test Cutter"));
}

QTEST_GUILESS_MAIN(TestPrinterStatus)
#include "test_printer_status.moc"
