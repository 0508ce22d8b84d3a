// One Cut (read the 920-line sample, print it, until the spooler accepted
// the job) against `lp` submitting that same job's PDF to the same queue,
// alternating in the same run. Prints the medians and their ratio.

#include "bench/BenchSupport.h"
#include "output/PlotPrinting.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateCupsServer server;
    if (!ServerStarted(server, "bench_cut"))
        return 1;
    const int runs = RunCount(argc, argv, 40);
    const std::vector<std::string> lines = BuiltInSampleLines();
    TPLT plot;

    // One Cut first, to have its PDF for lp and to warm both paths up.
    ReadPlotText(plot, lines);
    PrintPlot(plot, ActiveDeviceRequest(2));
    if (!server.waitForJobFiles(1)) {
        std::fprintf(stderr, "the spooler kept no job\n");
        return 1;
    }
    const QString pdf = server.jobFiles().last();
    const QStringList lpArgs{QStringLiteral("-d"), QStringLiteral("TestCutter"), QStringLiteral("-t"), QString(), pdf};

    std::vector<double> cut, lp;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        ReadPlotText(plot, lines);
        PrintPlot(plot, ActiveDeviceRequest(2));
        cut.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);

        t.start();
        if (!server.run(QStringLiteral("lp"), lpArgs)) {
            std::fprintf(stderr, "lp failed\n");
            return 1;
        }
        lp.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    const double c = Median(cut), l = Median(lp);
    std::printf("Cut median %.2f ms, lp median %.2f ms over %d runs each: ratio %.2f (goal <= 1.5)\n", c, l, runs,
                c / l);
    return 0;
}
