// One status query (open the device, count its jobs, close) against a
// private CUPS server: median and spread over many runs, in microseconds.

#include "bench/BenchSupport.h"
#include "output/PrinterStatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PrivateCupsServer server;
    if (!ServerStarted(server, "bench_status_query"))
        return 1;
    const int runs = RunCount(argc, argv, 1000);
    GetQueueStatus(); // warm up: finds the default device once
    std::vector<double> us;
    us.reserve(static_cast<size_t>(runs));
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        t.start();
        GetQueueStatus();
        us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    std::printf(
        "status query over %d runs: median %.0f us, p10 %.0f us, p90 %.0f us, max %.0f us (goal: median <= 1000 us)\n",
        runs, us[us.size() / 2], us[us.size() / 10], us[us.size() * 9 / 10], us.back());
    return 0;
}
