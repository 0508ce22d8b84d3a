// Start-up time of the program against a bare Qt Widgets window, both
// started the same way in this run (process start to window shown), and the
// idle window's CPU use with the status timer running. Prints figures.
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Milliseconds from starting the process to its "shown" line; -1 on failure.
double TimeToShown(const QString& program, const QStringList& args = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    while (p.waitForReadyRead(10000)) {
        if (p.readAll().contains("shown")) {
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            p.waitForFinished(10000);
            return ms;
        }
    }
    p.kill();
    p.waitForFinished();
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PrivateCupsServer server; // the program queries its device at start-up
    if (!ServerStarted(server, "bench_ui_startup"))
        return 1;
    const QString probe = QStringLiteral(PROBE);
    const QString bare = QStringLiteral(BARE);
    TimeToShown(probe); // warm the file cache for both
    TimeToShown(bare);

    constexpr int Runs = 15;
    std::vector<double> programMs, bareMs, textMs;
    for (int i = 0; i < Runs; ++i) {
        bareMs.push_back(TimeToShown(bare));
        textMs.push_back(TimeToShown(bare, {QStringLiteral("--text")}));
        programMs.push_back(TimeToShown(probe));
    }
    if (std::count(programMs.begin(), programMs.end(), -1.0) || std::count(bareMs.begin(), bareMs.end(), -1.0)
        || std::count(textMs.begin(), textMs.end(), -1.0)) {
        std::fprintf(stderr, "bench_ui_startup: a window never showed\n");
        return 1;
    }
    const double program = Median(programMs);
    const double yardstick = Median(bareMs);
    std::printf("start-up to window shown (median of %d, %s platform):\n", Runs,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  bare Qt Widgets window  %8.1f ms\n", yardstick);
    std::printf("  same, with one label    %8.1f ms\n", Median(textMs));
    std::printf("  vellico-output-test     %8.1f ms\n", program);
    std::printf("  ratio to the bare window         %5.2f  (goal <= 1.30)\n", program / yardstick);
    std::printf("  ratio to the window with a label %5.2f\n", program / Median(textMs));

    constexpr int IdleSeconds = 10;
    QProcess idle;
    idle.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    idle.start(probe, {QStringLiteral("--idle"), QString::number(IdleSeconds)});
    if (!idle.waitForFinished((IdleSeconds + 20) * 1000)) {
        idle.kill();
        std::fprintf(stderr, "bench_ui_startup: idle run did not finish\n");
        return 1;
    }
    const QByteArray out = idle.readAll();
    const qsizetype at = out.indexOf("cpu ");
    if (at < 0) {
        std::fprintf(stderr, "bench_ui_startup: idle run printed no figure\n");
        return 1;
    }
    const double cpu = out.mid(at + 4).trimmed().toDouble();
    std::printf("idle window, status timer running, %d s:\n", IdleSeconds);
    std::printf("  CPU %.3f s = %.2f %% of one core  (goal < 1 %%)\n", cpu, 100.0 * cpu / IdleSeconds);
    return 0;
}
