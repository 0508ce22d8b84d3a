// The whole program cutting the sample from the command line to a raw queue
// (`--cut --device RawCutter`: start-up, the queue's settings, the job and
// its answer, exit) against `lp -o raw` of the same job's bytes to the same
// queue, each a process of its own, in turn in the same run. Prints the
// medians and their ratio.
//
//   bench_cli_cut [runs [program]]   runs defaults to 21; program to time
//                                    another build of it (an older one)

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

// Wall time of one process in ms; negative when it failed.
double Timed(const QString& program, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "bench_cli_cut: %s failed: %s\n", qPrintable(program),
                     p.readAllStandardError().constData());
        return -1;
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateCupsServer server;
    const QString queue = QStringLiteral("RawCutter");
    if (!RawQueueStarted(server, queue, "bench_cli_cut"))
        return 1;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_cli_cut: cannot make a temporary folder\n");
        return 1;
    }
    // Nothing remembered from the user's own choices.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    const int runs = RunCount(argc, argv, 21);
    const QString program = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(VELLICO_PROGRAM);

    // The same job's bytes for lp, written by the program itself.
    const QString job = dir.filePath(QStringLiteral("job.hpgl"));
    const QStringList cut{QStringLiteral("--cut"), QStringLiteral("--device"), queue};
    if (Timed(program, cut + QStringList{QStringLiteral("--output"), job}) < 0)
        return 1;
    const QStringList lpArgs{
        QStringLiteral("-d"), queue, QStringLiteral("-o"), QStringLiteral("raw"), QStringLiteral("-t"), QString(), job};

    std::vector<double> ours, lp;
    for (int i = 0; i <= runs; ++i) {
        const double a = Timed(program, cut);
        if (a < 0 || DrainRawJobs(server, 30000) < 0)
            return 1;
        const double b = Timed(QStringLiteral("lp"), lpArgs);
        if (b < 0 || DrainRawJobs(server, 30000) < 0)
            return 1;
        if (i == 0)
            continue; // warming up
        ours.push_back(a);
        lp.push_back(b);
    }
    const double c = Median(ours), l = Median(lp);
    std::printf("%s --cut --device %s: median %.1f ms; lp -o raw: median %.1f ms; over %d runs each: ratio %.2f "
                "(goal <= 1.0)\n",
                qPrintable(program), qPrintable(queue), c, l, runs, c / l);
    return 0;
}
