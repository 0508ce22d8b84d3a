// The 1,000,000-line plot's HPGL sent to a cutter on a serial port, played by
// a pseudo-terminal read as fast as it fills, against `cat` of the same bytes
// into the same terminal, alternating in the same run. The sender runs at
// its fastest line setting with XON/XOFF read as always; a terminal has no
// line speed, so this is the cost of the chunks and flow-control checks.
// Also one whole Cut to the port (drawing included). Prints the medians.
//
//   bench_port [runs]        runs defaults to 5

#include "bench/BenchSupport.h"
#include "output/PlotPrinting.h"
#include "platform/PrinterObject.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int LineCount = 1'000'000;

// Runs send while a thread reads the terminal's master side; milliseconds
// until every one of expected bytes was read, or -1.
template <class Send>
double Timed(int master, qint64 expected, Send send)
{
    std::atomic<qint64> got{0};
    std::thread reader([&] {
        std::vector<char> buffer(1 << 16);
        pollfd p{master, POLLIN, 0};
        while (got<expected&& ::poll(&p, 1, 5000)> 0) {
            const ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            got += n;
        }
    });
    QElapsedTimer t;
    t.start();
    const bool sent = send();
    reader.join();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    return sent && got == expected ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = RunCount(argc, argv, 5);
    QTemporaryDir dir;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (!dir.isValid() || master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "bench_port: no pseudo-terminal or temporary folder\n");
        return 1;
    }
    const QString port = QString::fromLocal8Bit(::ptsname(master));
    // Held open and raw throughout, so cat's bytes pass unchanged too.
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    TPLT plot;
    ReadPlotData(plot, SampleLayout(LineCount).toStdString(), "bench.plt");
    DeviceSettings settings = DefaultPortSettings();
    settings.Line = ParsePortSettings("460800,8,N,1,xonxoff").value();
    Printer().SetPrinter({port.toStdString(), {}, port.toStdString()}, settings);
    const QString jobFile = dir.filePath(QStringLiteral("job.hpgl"));
    PrintRequest toFile = ActiveDeviceRequest(2);
    toFile.Target.OutputFile = QFile::encodeName(jobFile).toStdString();
    toFile.Target.Replace = true;
    PrintPlot(plot, toFile);
    QFile f(jobFile);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bench_port: the job was not written\n");
        return 1;
    }
    const QByteArray job = f.readAll();
    std::printf("plot: %d lines, %d polylines; HPGL job %.1f MiB\n", LineCount, plot.NPolygons(),
                static_cast<double>(job.size()) / (1024.0 * 1024.0));

    std::vector<double> send, cat, cut;
    for (int i = 0; i < runs; ++i) {
        send.push_back(Timed(master, job.size(), [&] {
            auto link = OpenPort(port.toStdString(), settings.Line);
            SendToPort(*link, settings.Line, std::string_view(job.constData(), static_cast<std::size_t>(job.size())));
            return true;
        }));
        cat.push_back(Timed(master, job.size(), [&] {
            return QProcess::execute(QStringLiteral("sh"),
                                     {QStringLiteral("-c"), QStringLiteral("cat \"$0\" > \"$1\""), jobFile, port})
                   == 0;
        }));
        cut.push_back(Timed(master, job.size(), [&] {
            PrintPlot(plot, ActiveDeviceRequest(2));
            return true;
        }));
        if (send.back() < 0 || cat.back() < 0 || cut.back() < 0) {
            std::fprintf(stderr, "bench_port: a job did not arrive whole\n");
            return 1;
        }
    }
    const double s = Median(send), c = Median(cat), whole = Median(cut);
    std::printf("send median %.1f ms (%.0f MiB/s), cat median %.1f ms (%.0f MiB/s) over %d runs each: ratio %.2f\n", s,
                static_cast<double>(job.size()) / 1048.576 / s, c, static_cast<double>(job.size()) / 1048.576 / c, runs,
                s / c);
    std::printf("whole Cut to the port (drawing and sending) median %.1f ms\n", whole);
    ::close(slave);
    ::close(master);
    return 0;
}
