// The program's own start-up, reporting on stdout once the window is shown.
//   bench_window_probe            quit at once
//   bench_window_probe --idle S   then stay idle S seconds (status timer
//                                 running) and print the CPU seconds used
#include "ui/ErrorReport.h"
#include "ui/Startup.h"
#include "ui/TFrmPrincipal.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {
double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
} // namespace

int main(int argc, char** argv)
{
    int idleSeconds = 0;
    if (argc == 3 && std::strcmp(argv[1], "--idle") == 0)
        idleSeconds = std::atoi(argv[2]);
    int qtArgc = 1;
    // A box would wait for a click; the figures only need to know.
    SetErrorReportHook(
        [](const QString&, const QString& text) { std::fprintf(stderr, "error report: %s\n", qPrintable(text)); });
    return RunOutputTest(qtArgc, argv, [idleSeconds](TFrmPrincipal&) {
        std::printf("shown\n");
        std::fflush(stdout);
        if (idleSeconds <= 0) {
            QApplication::quit();
            return;
        }
        const double start = CpuSeconds();
        QTimer::singleShot(idleSeconds * 1000, [start] {
            std::printf("cpu %.6f\n", CpuSeconds() - start);
            std::fflush(stdout);
            QApplication::quit();
        });
    });
}
