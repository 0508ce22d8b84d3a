// Cutters on a serial line, played by a pseudo-terminal pair: the program
// writes the terminal's slave side as it would a /dev/ttyUSB0, the test reads
// the master side as the cutter and answers with XON/XOFF or a hang-up.
// CTS cannot be dropped on a pseudo-terminal: that is driven through a
// substitute link.

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/PrinterObject.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/PlayedCutter.h"
#include "tests/support/PlotterDecoder.h"
#include "tests/support/PrintToFile.h"
#include "tests/support/StdText.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SendAs)
Q_DECLARE_METATYPE(TPortLink::Drained)

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char XOFF = 0x13;
constexpr char XON = 0x11;

// A pseudo-terminal pair; the test keeps the slave open too, so the cutter
// sees no hang-up when the program closes the port after a job.
struct Pty {
    int Master = -1;
    int Slave = -1;
    std::string Path;
    Pty()
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
            return;
        Path = ::ptsname(Master);
        Slave = ::open(::ptsname(Master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ::tcgetattr(Slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(Slave, TCSANOW, &t);
    }
    ~Pty()
    {
        HangUp();
        if (Slave >= 0)
            ::close(Slave);
    }
    void HangUp()
    {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }
    bool Valid() const { return Slave >= 0; }
    // Reads what has arrived, waiting at most wait for the first byte.
    QByteArray Read(std::chrono::milliseconds wait, qint64 most = 65536) const
    {
        pollfd p{Master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !(p.revents & POLLIN))
            return {};
        QByteArray b(static_cast<qsizetype>(most), '\0');
        const ssize_t n = ::read(Master, b.data(), static_cast<size_t>(most));
        b.resize(n > 0 ? n : 0);
        return b;
    }
    // Reads until size bytes have come, or none came for wait.
    QByteArray ReadUpTo(qint64 size, std::chrono::milliseconds wait = 10s) const
    {
        QByteArray b;
        for (QByteArray more; b.size() < size && !(more = Read(wait, size - b.size())).isEmpty();)
            b += more;
        return b;
    }
    // Whether the port's side has input it has not read yet. Polling waits
    // for what the terminal is still passing on, so once this is false the
    // program has read everything the cutter said.
    bool Unread() const
    {
        pollfd p{Slave, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }
    void Say(char c) const { (void)!::write(Master, &c, 1); }
};

// A job far larger than a pseudo-terminal buffers (some 64 KiB), so a sender
// that ignored XOFF would be seen writing through the hold.
QByteArray LargeJob()
{
    QByteArray job;
    for (int i = 0; job.size() < 1024 * 1024; ++i)
        job += "PD" + QByteArray::number(i) + ',' + QByteArray::number(i % 7919) + ";\n";
    return job;
}

PortSettings Line(const char* text)
{
    return ParsePortSettings(text).value();
}

// A plot of some 76 kB in a cutter language, as the encoder writes it:
// zigzags of whole pairs across an A4 sheet.
QByteArray PlotJob(SendAs language)
{
    StringSink sink;
    const auto encoder = MakeCutterEncoder(language, sink);
    encoder->Begin();
    for (std::int64_t line = 0; line < 570; ++line) {
        encoder->MoveTo({(line * 37) % 8000, (line * 53) % 11000});
        for (std::int64_t point = 1; point <= 12; ++point)
            encoder->CutTo({(line * 37 + point * 211) % 8000, (line * 53 + (point % 2) * 977) % 11000});
    }
    encoder->End();
    return QByteArray::fromStdString(sink.Bytes());
}

// A port with a CTS line the test drives: down from the 100th byte for
// downFor looks at it (-1: for good), then up; every write is checked
// against it. Counted, not timed, so a slow machine holds it no longer.
class CtsLink final : public TPortLink {
public:
    CtsLink(int downFor, Drained drained) : FDownFor(downFor), FDrained(drained) {}
    QByteArray Received;
    int WritesWhileDown = 0;
    qint64 DrainedAt = -1; // bytes written when the port was last drained

    int Wait(bool wantWrite, std::chrono::milliseconds wait) override
    {
        if (wantWrite)
            return Writable;
        std::this_thread::sleep_for(wait);
        return 0;
    }
    std::int64_t Write(const char* data, std::int64_t size) override
    {
        if (Down())
            ++WritesWhileDown;
        Received.append(data, static_cast<qsizetype>(size));
        FDown = FDown || Received.size() >= 100;
        return size;
    }
    std::int64_t Read(char*, std::int64_t) override { return 0; }
    bool ClearToSend() override
    {
        if (!Down())
            return true;
        ++FLooks;
        return false;
    }
    Drained Drain(std::chrono::milliseconds) override
    {
        DrainedAt = Received.size();
        return FDrained;
    }
    std::string Name() const override { return "fake"; }

private:
    bool Down() const { return FDown && FLooks != FDownFor; }
    int FDownFor;
    Drained FDrained;
    bool FDown = false;
    int FLooks = 0;
};

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cutterGetsExactlyTheJob_data();
    void cutterGetsExactlyTheJob();
    void xoffHoldsTheJobUntilXon();
    void cutterTroubleIsNeverDone_data();
    void cutterTroubleIsNeverDone();
    void progressRisesAndStopLeavesTheLineUsable();
    void askingTheCutterKeepsItsBufferWhole_data();
    void askingTheCutterKeepsItsBufferWhole();
    void askedCutterTroubleEndsTheJob_data();
    void askedCutterTroubleEndsTheJob();
    void rtsCtsHoldsTheJob_data();
    void rtsCtsHoldsTheJob();
    void openFailuresSayWhatToDo_data();
    void openFailuresSayWhatToDo();

private:
    TPLT FSample;
    QTemporaryDir FDir;
};

void TestSerialPort::initTestCase()
{
    ReadPlotText(FSample, BuiltInSampleLines());
    QVERIFY(FDir.isValid());
}

void TestSerialPort::cutterGetsExactlyTheJob_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QString>("line");
    QTest::newRow("HPGL, XON/XOFF, any case") << SendAs::HPGL << "9600,8,n,1,XonXoff";
    QTest::newRow("GP-GL, RTS/CTS") << SendAs::GPGL << "19200,7,E,2,rtscts";
    QTest::newRow("no driver on a port: HPGL") << SendAs::Driver << "115200,8,O,1,none";
}

// Through the printer object, as the window's Cut goes: the cutter receives
// the bytes of the job file with the same settings, and they decode to the
// sample. The status and name need no server.
void TestSerialPort::cutterGetsExactlyTheJob()
{
    QFETCH(SendAs, language);
    QFETCH(QString, line);
    Pty cutter;
    QVERIFY(cutter.Valid());
    DeviceSettings s = DefaultPortSettings();
    s.Line = Line(qPrintable(line));
    s.Language = language == SendAs::Driver ? SendAs::HPGL : language;
    const QString file = FDir.filePath(QStringLiteral("job.bin"));
    PrintToFile(FSample, s, 4, file);
    const SendAs sent = s.Language;
    s.Language = language;
    Printer().SetPrinter({cutter.Path, {}, cutter.Path}, s);
    PrintPlot(FSample, ActiveDeviceRequest(4)); // small enough for the terminal to hold it all

    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray expected = f.readAll();
    const QByteArray received = cutter.ReadUpTo(expected.size());
    QCOMPARE(received, expected);
    QCOMPARE(cutter.Read(0ms), QByteArray()); // and nothing after it
    QString error;
    QCOMPARE(static_cast<int>(DecodePlotterJob(sent, received, &error).size()), FSample.NPolygons());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(QStr(GetQueueStatus()), QStringLiteral("No jobs in queue"));
    QCOMPARE(GetPrinterName(), cutter.Path);
}

// The cutter says XOFF after 100 bytes and XON a second later: it gets the
// whole job in order, and once the program has read the XOFF and what it
// had already written has come, nothing comes while it holds. The status
// line reads "Print" meanwhile.
void TestSerialPort::xoffHoldsTheJobUntilXon()
{
    Pty cutter;
    QVERIFY(cutter.Valid());
    const QByteArray job = LargeJob();
    const PortSettings line = Line("9600,8,N,1,xonxoff");
    Printer().SetPrinter({cutter.Path, {}, cutter.Path}, DefaultPortSettings());
    auto link = OpenPort(cutter.Path, line);

    QByteArray received;
    qint64 lateInHold = 0;
    qint64 beforeXon = 0;
    QString statusInHold;
    std::thread reader([&] {
        while (received.size() < 100)
            received += cutter.Read(2000ms, 100 - received.size());
        cutter.Say(XOFF);
        const auto xoff = Clock::now();
        // The cutter goes on reading until the program has taken the XOFF,
        // then takes what was already on its way (polling the terminal waits
        // for it); from then on nothing may come, however slow the machine.
        while (cutter.Unread())
            received += cutter.Read(10ms);
        for (QByteArray b; !(b = cutter.Read(0ms)).isEmpty();)
            received += b;
        while (Clock::now() - xoff < 1s) {
            const QByteArray b = cutter.Read(100ms);
            received += b;
            lateInHold += b.size();
        }
        statusInHold = QStr(GetQueueStatus());
        beforeXon = received.size();
        cutter.Say(XON);
        received += cutter.ReadUpTo(job.size() - received.size());
    });
    const auto began = Clock::now();
    SendToPort(*link, line, Bytes(job));
    const auto took = Clock::now() - began;
    link.reset();
    reader.join();
    QCOMPARE(lateInHold, qint64(0));
    // What the pseudo-terminal itself holds (4 to 15 KiB, as the kernel
    // hands it on) and a few chunks: a sender that looked at the cutter's
    // input less often would overrun it.
    QVERIFY2(beforeXon <= 100 + 24 * 1024, qPrintable(QString::number(beforeXon)));
    QCOMPARE(received.size(), job.size());
    QVERIFY(received == job);
    QVERIFY(took >= 1s);
    QCOMPARE(statusInHold, QStringLiteral("Print"));
}

void TestSerialPort::cutterTroubleIsNeverDone_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<QString>("message"); // the whole of it
    const QString notCompleted =
        QStringLiteral("The job to .+ was not completed \\(\\d+ of %1 bytes sent\\): %2").arg(LargeJob().size());
    QTest::newRow("hang-up mid-job") << "hangup" << notCompleted.arg("the cutter was disconnected");
    QTest::newRow("XOFF past the limit") << "hold"
                                         << notCompleted.arg("the cutter held it \\(XOFF\\) for more than 0\\.3 s");
    // Stopped, it reads as a stopped job does wherever it went.
    QTest::newRow("window closed")
        << "stop" << QStringLiteral("The job was stopped: \\d+ of %1 bytes sent").arg(LargeJob().size());
}

// Each stops the job after the first bytes; each is an error naming its
// cause, never a job reported as sent. Only the hold has a short limit, so
// however late the trouble comes, it is what ends the job.
void TestSerialPort::cutterTroubleIsNeverDone()
{
    QFETCH(QString, trouble);
    QFETCH(QString, message);
    Pty cutter;
    QVERIFY(cutter.Valid());
    const PortSettings line = Line("9600,8,N,1,xonxoff");
    const bool hold = trouble == QLatin1String("hold");
    SetPortTimeLimits({hold ? 300ms : 30000ms});
    auto link = OpenPort(cutter.Path, line);
    std::thread reader([&] {
        QByteArray b;
        while (b.size() < 100)
            b += cutter.Read(2000ms, 100 - b.size());
        cutter.Say(XOFF);
        // Read on until the program has taken the XOFF: a full terminal
        // would otherwise end the job as a port that takes nothing.
        while (hold && cutter.Unread())
            cutter.Read(10ms);
        if (trouble == QLatin1String("hangup"))
            cutter.HangUp();
        else if (trouble == QLatin1String("stop"))
            StopPortJobs();
    });
    QString said;
    try {
        SendToPort(*link, line, Bytes(LargeJob()));
    } catch (const EPrinter& e) {
        said = QStr(e.Message());
    }
    reader.join();
    SetPortTimeLimits({});
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(message)).match(said).hasMatch(), qPrintable(said));
}

// The cutter reads at its own pace: the progress seen meanwhile rises to the
// job's size. Stopped half way, the job says so and the cutter has less than
// the job; the next job on the same line arrives whole.
void TestSerialPort::progressRisesAndStopLeavesTheLineUsable()
{
    Pty cutter;
    QVERIFY(cutter.Valid());
    const PortSettings line = Line("115200,8,N,1,none");
    const QByteArray job = LargeJob();
    for (const bool stop : {false, true}) {
        auto link = OpenPort(cutter.Path, line);
        QString failure;
        std::atomic<bool> finished{false};
        std::thread sender([&] {
            try {
                SendToPort(*link, line, Bytes(job));
            } catch (const EPrinter& e) {
                failure = QStr(e.Message());
            }
            finished = true;
        });
        QByteArray received;
        QList<qint64> seen;
        bool asked = false;
        // Until the sender is done and all it wrote has come, however long
        // a busy machine keeps either waiting.
        for (;;) {
            const bool last = finished;
            const QByteArray b = cutter.Read(last ? 0ms : 100ms, 16384);
            if (b.isEmpty()) {
                if (last)
                    break;
                continue;
            }
            received += b;
            const JobProgress p = CurrentJobProgress();
            if (p.Sending) {
                QCOMPARE(p.Total, job.size());
                seen << p.Sent;
            }
            if (stop && !asked && received.size() >= job.size() / 3) {
                StopJobs();
                asked = true;
            }
            std::this_thread::sleep_for(2ms);
        }
        sender.join();
        link.reset();
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(!CurrentJobProgress().Sending);
        if (stop) {
            const QRegularExpression said(
                QStringLiteral("The job was stopped: (\\d+) of %1 bytes sent").arg(job.size()));
            const QRegularExpressionMatch m = said.match(failure);
            QVERIFY2(m.hasMatch() && m.capturedStart() == 0 && m.capturedLength() == failure.size(),
                     qPrintable(failure));
            QVERIFY(m.captured(1).toLongLong() >= received.size());
            QVERIFY(received.size() < job.size());
        } else {
            QCOMPARE(failure, QString());
            QVERIFY2(seen.size() >= 10, qPrintable(QString::number(seen.size())));
            QCOMPARE(CurrentJobProgress().Sent, job.size());
            QCOMPARE(received, job);
        }
    }
    // The line is free and clean for the next job.
    const QByteArray next = "IN;\nSP1;\nPU0,0;\nPD400,400;\nSP0;\n";
    auto link = OpenPort(cutter.Path, line);
    SendToPort(*link, line, Bytes(next));
    link.reset();
    QCOMPARE(cutter.ReadUpTo(next.size()), next);
}

void TestSerialPort::askingTheCutterKeepsItsBufferWhole_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("buffer");
    QTest::addColumn<qint64>("drain"); // bytes a second
    QTest::addColumn<bool>("whole");
    // A 1 KiB buffer drained at 4,800 bytes/s, a terminal far faster.
    QTest::newRow("asked before each block") << "115200,8,N,1,query" << qint64(1024) << qint64(4800) << true;
    QTest::newRow("asked, any case, buffer of 16 KiB")
        << "115200,8,N,1,Query" << qint64(16384) << qint64(48000) << true;
    // What the handshake prevents: the cutter drops what overflows.
    QTest::newRow("no flow control") << "115200,8,N,1,none" << qint64(1024) << qint64(4800) << false;
}

// The whole plot reaches the small-buffer cutter byte for byte when it is
// asked; the progress rises meanwhile. Without flow control the same plot
// overflows it.
void TestSerialPort::askingTheCutterKeepsItsBufferWhole()
{
    QFETCH(QString, line);
    QFETCH(qint64, buffer);
    QFETCH(qint64, drain);
    QFETCH(bool, whole);
    const QByteArray job = PlotJob(SendAs::HPGL);
    QVERIFY2(job.size() >= 76000 && job.size() < 80000, qPrintable(QString::number(job.size())));
    PlayedCutter::Setup setup;
    setup.BufferBytes = buffer;
    setup.DrainPerSecond = drain;
    PlayedCutter cutter(setup);
    QVERIFY(cutter.Valid());
    const PortSettings settings = Line(qPrintable(line));
    auto link = OpenPort(cutter.Path(), settings);
    QString failure;
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        try {
            SendToPort(*link, settings, Bytes(job), SendAs::HPGL);
        } catch (const EPrinter& e) {
            failure = QStr(e.Message());
        }
        finished = true;
    });
    QList<qint64> seen;
    while (!finished) {
        if (const JobProgress p = CurrentJobProgress(); p.Sending)
            seen << p.Sent;
        std::this_thread::sleep_for(20ms);
    }
    sender.join();
    link.reset();
    QCOMPARE(failure, QString());
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QVERIFY(cutter.WaitForBytes(job.size(), 10s));
    if (whole) {
        QCOMPARE(cutter.Dropped(), qint64(0));
        QVERIFY(QByteArray::fromStdString(cutter.Accepted()) == job);
        QVERIFY2(seen.size() >= 10, qPrintable(QString::number(seen.size())));
        QVERIFY(cutter.Questions() > job.size() / buffer);
    } else {
        QVERIFY(cutter.Dropped() > 0);
        QVERIFY(static_cast<qint64>(cutter.Accepted().size()) < job.size());
    }
}

void TestSerialPort::askedCutterTroubleEndsTheJob_data()
{
    QTest::addColumn<SendAs>("language");
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<QString>("message"); // the whole of it
    QTest::addColumn<QString>("cut");     // what the cutter has: "lifted", "nothing" or "part"
    const QString notCompleted = QStringLiteral("The job to .+ was not completed \\(\\d+ of %1 bytes sent\\): %2")
                                     .arg(PlotJob(SendAs::HPGL).size());
    const QString silent = notCompleted.arg("the cutter held it \\(no answer to ESC\\.B\\) for more than 0\\.3 s");
    // The cutter falls silent after a few blocks: counted, not timed.
    QTest::newRow("stops answering mid-job") << SendAs::HPGL << "silent" << silent << "lifted";
    QTest::newRow("never answers") << SendAs::HPGL << "mute" << silent << "nothing";
    QTest::newRow("hang-up mid-job") << SendAs::HPGL << "hangup" << notCompleted.arg("the cutter was disconnected")
                                     << "part";
    // As with XON/XOFF: the pair under way finished, the knife lifted.
    QTest::newRow("stopped mid-job")
        << SendAs::CAMMGL << "stop"
        << QStringLiteral("The job was stopped: \\d+ of %1 bytes sent").arg(PlotJob(SendAs::CAMMGL).size()) << "lifted";
    QTest::newRow("a language without the question")
        << SendAs::GPGL << "none"
        << QStringLiteral("GP-GL has no question for the free space in a cutter's buffer, so the cutter cannot "
                          "be asked before each block: choose XON/XOFF, RTS/CTS or none as the flow control")
        << "nothing";
}

// Each ends the job with its cause, a silent cutter within the hold limit
// (shortened here), never as a job reported sent and never hanging. Nothing
// the cutter takes overflows it, and where the line still carries bytes its
// job ends with the knife up: the job to the end of a pair or instruction,
// then the lift.
void TestSerialPort::askedCutterTroubleEndsTheJob()
{
    QFETCH(SendAs, language);
    QFETCH(QString, trouble);
    QFETCH(QString, message);
    QFETCH(QString, cut);
    const QByteArray job = PlotJob(language);
    PlayedCutter::Setup setup;
    setup.DrainPerSecond = 48000;
    if (trouble == QLatin1String("silent"))
        setup.StopAnsweringAfter = 8;
    if (trouble == QLatin1String("mute"))
        setup.Plays = PlayedCutter::Kind::Silent;
    PlayedCutter cutter(setup);
    QVERIFY(cutter.Valid());
    const PortSettings settings = Line("115200,8,N,1,query");
    // Only a silent cutter has a short limit: however slow the machine, the
    // trouble asked for is what ends the job.
    const bool silent = trouble == QLatin1String("silent") || trouble == QLatin1String("mute");
    SetPortTimeLimits({silent ? 300ms : 30000ms});
    auto link = OpenPort(cutter.Path(), settings);
    std::thread troubleMaker([&] {
        if (trouble != QLatin1String("hangup") && trouble != QLatin1String("stop"))
            return;
        cutter.WaitForBytes(job.size() / 4, 10s);
        if (trouble == QLatin1String("hangup"))
            cutter.HangUp();
        else
            StopPortJobs();
    });
    QString said;
    try {
        SendToPort(*link, settings, Bytes(job), language);
    } catch (const EPrinter& e) {
        said = QStr(e.Message());
    }
    troubleMaker.join();
    link.reset();
    SetPortTimeLimits({});
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(message)).match(said).hasMatch(), qPrintable(said));
    cutter.WaitForBytes(job.size(), 500ms);
    const QByteArray accepted = QByteArray::fromStdString(cutter.Accepted());
    QCOMPARE(cutter.Dropped(), qint64(0));
    if (cut == QLatin1String("nothing")) {
        QCOMPARE(accepted, QByteArray());
        if (trouble == QLatin1String("none"))
            QCOMPARE(cutter.Questions(), qint64(0));
    } else if (cut == QLatin1String("lifted")) {
        QVERIFY(!accepted.isEmpty() && accepted.size() < job.size());
        bool ends = false;
        for (qsizetype k = accepted.size(); k > 0 && !ends; --k) {
            const CutterJobEnding end = StoppedJobEnding(language, Bytes(job), k);
            ends = end.More == 0 && accepted == job.left(k) + QByteArray::fromStdString(end.Close);
        }
        QVERIFY2(ends, qPrintable(accepted.right(40)));
        QString error;
        DecodePlotterJob(language, accepted, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    } else {
        QVERIFY(job.startsWith(accepted));
    }
}

void TestSerialPort::rtsCtsHoldsTheJob_data()
{
    QTest::addColumn<int>("downFor"); // looks at CTS, -1: for good
    QTest::addColumn<TPortLink::Drained>("drained");
    QTest::addColumn<QString>("failure"); // empty: the job completes
    QTest::newRow("CTS down a while") << 10 << TPortLink::Drained::Yes << "";
    QTest::newRow("CTS down past the limit") << -1 << TPortLink::Drained::Yes << "(CTS) for more than 0.5 s";
    QTest::newRow("last bytes never leave")
        << 0 << TPortLink::Drained::TimedOut << "its last bytes did not leave the port";
    QTest::newRow("line lost while draining") << 0 << TPortLink::Drained::Lost << "the cutter was disconnected";
}

// Also: the port is drained after the last byte before the job counts as
// sent, and a failure says how many bytes went.
void TestSerialPort::rtsCtsHoldsTheJob()
{
    QFETCH(int, downFor);
    QFETCH(TPortLink::Drained, drained);
    QFETCH(QString, failure);
    // Only a hold for good meets the limit, however slow the machine.
    SetPortTimeLimits({downFor < 0 ? 500ms : 30000ms});
    CtsLink link{downFor, drained};
    const QByteArray job(3000, 'x');
    QString message;
    try {
        SendToPort(link, Line("9600,8,N,1,rtscts"), Bytes(job));
    } catch (const EPrinter& e) {
        message = QStr(e.Message());
    }
    SetPortTimeLimits({});
    QCOMPARE(link.WritesWhileDown, 0);
    QCOMPARE(message.isEmpty(), failure.isEmpty());
    if (failure.isEmpty()) {
        QCOMPARE(link.Received, job);
        QCOMPARE(link.DrainedAt, job.size());
    } else {
        QVERIFY2(message.contains(failure), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("(%1 of 3000 bytes sent)").arg(link.Received.size())),
                 qPrintable(message));
    }
}

void TestSerialPort::openFailuresSayWhatToDo_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("missing") << "missing" << QStringList{"is not there", "switched on"};
    QTest::newRow("in use") << "busy" << QStringList{"in use by another program"};
    QTest::newRow("held by our own first job") << "ours" << QStringList{"in use by another program"};
    // Nodes of these numbers, made by the test: /dev/null's; USB class
    // devices beside the printer ports (180:0 to 180:15), refused before they
    // are opened; the last printer port, a port but with no printer behind it.
    QTest::newRow("not a terminal or printer port")
        << "node 1:3" << QStringList{"is not a port: it is a character device", "/dev/ttyUSB0"};
    QTest::newRow("USB device just past the printer ports")
        << "node 180:16" << QStringList{"is not a port: it is a character device", "/dev/usb/lp0"};
    QTest::newRow("USB human interface device")
        << "node 180:96" << QStringList{"is not a port: it is a character device"};
    QTest::newRow("last USB printer port, nothing on it") << "node 180:15" << QStringList{"is not there"};
    QTest::newRow("no permission") << "permission"
                                   << QStringList{"No permission", "group \"dialout\"",
                                                  "sudo usermod -aG dialout $USER", "log out and in again"};
}

void TestSerialPort::openFailuresSayWhatToDo()
{
    QFETCH(QString, cause);
    QFETCH(QStringList, said);
    Pty cutter;
    QVERIFY(cutter.Valid());
    QString path = QStr(cutter.Path);
    QString message;
    auto open = [&] {
        try {
            OpenPort(StdStr(path), PortSettings{});
        } catch (const Exception& e) {
            message = QStr(e.Message());
        }
    };
    if (cause == QLatin1String("missing")) {
        path = QStringLiteral("/dev/ttyUSB-vellico-unplugged");
        open();
    } else if (cause.startsWith(QLatin1String("node "))) {
        // In a folder of the test's own.
        const QStringList numbers = cause.mid(5).split(QLatin1Char(':'));
        QTemporaryDir dir;
        path = dir.filePath(QStringLiteral("node"));
        if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666,
                    ::makedev(numbers[0].toUInt(), numbers[1].toUInt()))
            != 0)
            QSKIP("making device nodes is not permitted here");
        open();
    } else if (cause == QLatin1String("busy")) {
        QCOMPARE(::flock(cutter.Slave, LOCK_EX | LOCK_NB), 0);
        open();
    } else if (cause == QLatin1String("ours")) {
        const auto first = OpenPort(StdStr(path), PortSettings{});
        open();
    } else {
        // Root opens anything: the attempt runs in a child as "nobody",
        // against a node owned by root:dialout with mode 0660.
        if (::geteuid() != 0)
            QSKIP("needs root to hand the port to another user");
        const struct group* dialout = ::getgrnam("dialout");
        if (!dialout)
            QSKIP("no dialout group on this system");
        const QByteArray node = path.toLocal8Bit();
        QCOMPARE(::chown(node.constData(), 0, dialout->gr_gid), 0);
        QCOMPARE(::chmod(node.constData(), 0660), 0);
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
                open();
            else
                message = QStringLiteral("could not become nobody");
            const QByteArray text = message.toUtf8();
            (void)!::write(pipeFds[1], text.constData(), static_cast<size_t>(text.size()));
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        QByteArray text;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
        ::close(pipeFds[0]);
        ::waitpid(child, nullptr, 0);
        message = QString::fromUtf8(text);
    }
    for (const QString& words : said)
        QVERIFY2(message.contains(words), qPrintable(message));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
