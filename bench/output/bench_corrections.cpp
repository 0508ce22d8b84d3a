// A Cut of the 1,000,000-line plot to a raw queue in HPGL with blade offset
// (0.25 mm) and overcut (1 mm) on, against the same Cut without corrections;
// and a Cut scaled 100.7 % / 99.5 % with the axes squared by 0.3 degrees,
// against the same scale alone; all alternating in the same run. Prints the
// medians, their ratios and the jobs' sizes.
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
    DeviceSettings scaled = plain;
    scaled.Corrections.ScaleXPercent = 100.7;
    scaled.Corrections.ScaleYPercent = 99.5;
    DeviceSettings skewed = scaled;
    skewed.Corrections.SkewDeg = 0.3;
    const DeviceSettings* settings[] = {&plain, &corrected, &scaled, &skewed};
    constexpr int Kinds = 4;

    std::vector<double> times[Kinds];
    qint64 sizes[Kinds] = {};
    QElapsedTimer t;
    for (int i = 0; i <= runs; ++i) {
        for (int k = 0; k < Kinds; ++k) {
            Printer().SetPrinter({queue.toStdString(), {}, {}}, *settings[k]);
            t.start();
            PrintPlot(plot, ActiveDeviceRequest(2));
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
    const double sc = Median(times[2]), sk = Median(times[3]);
    std::printf("Cut median %.1f ms scaled 100.7 %% / 99.5 %%, %.1f ms scaled and squared by 0.3 deg (%.1f MiB): "
                "ratio %.3f (goal <= 1.05)\n",
                sc, sk, static_cast<double>(sizes[3]) / (1 << 20), sk / sc);
    return 0;
}
