// A Cut of the 1,000,000-line plot to a raw queue in HPGL with blade offset
// (0.25 mm) and overcut (1 mm) on, against the same Cut without corrections,
// alternating in the same run. Prints both medians, their ratio and the
// jobs' sizes.
//
//   bench_corrections [runs]        runs defaults to 5

#include "bench/BenchSupport.h"
#include "output/PlotPrinting.h"
#include "platform/DeviceCapabilities.h"
#include "platform/PrinterObject.h"
#include "plot/PlotTextReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <vector>

namespace {

constexpr int LineCount = 1'000'000;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateCupsServer server;
    const QString queue = QStringLiteral("RawCutter");
    if (!RawQueueStarted(server, queue, "bench_corrections"))
        return 1;
    const int runs = RunCount(argc, argv, 5);

    TPLT plot;
    ReadPlotData(plot, SampleLayout(LineCount).toStdString(), "bench.plt");
    DeviceSettings plain = DefaultSettings(queue.toStdString());
    plain.Language = SendAs::HPGL;
    DeviceSettings corrected = plain;
    corrected.Corrections.BladeOffsetMm = 0.25;
    corrected.Corrections.OvercutMm = 1;

    std::vector<double> times[2];
    qint64 sizes[2] = {0, 0};
    QElapsedTimer t;
    for (int i = 0; i <= runs; ++i) {
        for (int k = 0; k < 2; ++k) {
            Printer().SetPrinter({queue.toStdString(), {}, {}}, k == 0 ? plain : corrected);
            t.start();
            PrintPlot(plot, 2);
            const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
            sizes[k] = DrainRawJobs(server, 120000);
            if (sizes[k] < 0) {
                std::fprintf(stderr, "bench_corrections: the raw queue passed on no job\n");
                return 1;
            }
            if (i > 0) // the first round warms the queue up
                times[k].push_back(ms);
        }
    }
    const double p = Median(times[0]), c = Median(times[1]);
    std::printf("plot: %d lines, %d polylines; HPGL job %.1f MiB plain, %.1f MiB corrected\n", LineCount,
                plot.NPolygons(), static_cast<double>(sizes[0]) / (1 << 20), static_cast<double>(sizes[1]) / (1 << 20));
    std::printf("Cut median %.1f ms plain, %.1f ms with offset 0.25 mm and overcut 1 mm over %d runs each: ratio "
                "%.2f (goal <= 1.5)\n",
                p, c, runs, c / p);
    return 0;
}
