// A Cut of a 1,000,000-line plot to a raw queue in HPGL (from the read plot
// until the spooler accepted the job) against `lp -o raw` submitting the same
// job's bytes to the same queue, alternating in the same run. Prints the
// medians, their ratio, and how much memory one Cut needs beyond what was
// resident before it, against the job's size: a job text held twice would
// need at least twice its size.
//
//   bench_cut_raw [runs]        runs defaults to 7

#include "bench/BenchSupport.h"
#include "output/PlotPrinting.h"
#include "platform/DeviceCapabilities.h"
#include "platform/PrinterObject.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

namespace {

constexpr int LineCount = 1'000'000;

// A field of /proc/self/status in KiB; -1 when it cannot be read.
long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    const std::string key = std::string(field) + ":";
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

// Sets the peak back to the resident size now (Linux 4.0 and later).
bool ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKiB("VmHWM") == StatusKiB("VmRSS");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateCupsServer server;
    const QString queue = QStringLiteral("RawCutter");
    if (!RawQueueStarted(server, queue, "bench_cut_raw"))
        return 1;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_cut_raw: cannot make a temporary folder\n");
        return 1;
    }
    const int runs = RunCount(argc, argv, 7);

    TPLT plot;
    ReadPlotData(plot, SampleLayout(LineCount).toStdString(), "bench.plt");
    DeviceSettings settings = DefaultSettings(queue.toStdString());
    settings.Language = SendAs::HPGL;
    Printer().SetPrinter({queue.toStdString(), {}, {}}, settings);

    // The job's bytes for lp, written by the program itself.
    const QString job = dir.filePath(QStringLiteral("job.hpgl"));
    PrintRequest toFile = ActiveDeviceRequest(2);
    toFile.Target.OutputFile = QFile::encodeName(job).toStdString();
    toFile.Target.Replace = true;
    PrintPlot(plot, toFile);
    const double jobMiB = static_cast<double>(QFile(job).size()) / (1024.0 * 1024.0);
    std::printf("plot: %d lines, %d polylines; HPGL job %.1f MiB\n", LineCount, plot.NPolygons(), jobMiB);

    // The first Cut measures memory and warms the queue up. Freed memory
    // that malloc keeps would be reused unseen: give it back first.
    malloc_trim(0);
    const bool reset = ResetPeak();
    const long before = StatusKiB("VmRSS");
    PrintPlot(plot, ActiveDeviceRequest(2));
    const double aboveMiB = static_cast<double>(StatusKiB("VmHWM") - before) / 1024.0;
    if (DrainRawJobs(server, 60000) < 0) {
        std::fprintf(stderr, "bench_cut_raw: the raw queue passed on no job\n");
        return 1;
    }
    std::printf("memory: one Cut peaks %.1f MiB above the %.1f MiB resident before it: %.2fx the job%s "
                "(goal: below 2x, the job text held once)\n",
                aboveMiB, static_cast<double>(before) / 1024.0, aboveMiB / jobMiB,
                reset ? "" : " [peak could not be reset]");

    const QStringList lpArgs{
        QStringLiteral("-d"), queue, QStringLiteral("-o"), QStringLiteral("raw"), QStringLiteral("-t"), QString(), job};
    std::vector<double> cut, lp;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        PrintPlot(plot, ActiveDeviceRequest(2));
        cut.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (DrainRawJobs(server, 60000) < 0) {
            std::fprintf(stderr, "bench_cut_raw: the raw queue passed on no job\n");
            return 1;
        }

        t.start();
        if (!server.run(QStringLiteral("lp"), lpArgs)) {
            std::fprintf(stderr, "bench_cut_raw: lp failed\n");
            return 1;
        }
        lp.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (DrainRawJobs(server, 60000) < 0) {
            std::fprintf(stderr, "bench_cut_raw: the raw queue passed on no lp job\n");
            return 1;
        }
    }
    const double c = Median(cut), l = Median(lp);
    std::printf("Cut median %.1f ms, lp -o raw median %.1f ms over %d runs each: ratio %.2f (goal <= 1.5)\n", c, l,
                runs, c / l);
    return 0;
}
