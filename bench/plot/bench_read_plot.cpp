// Reads a 1,000,000-line plot file in the built-in sample's layout from disk
// and prints the median time and the peak memory against the file's size.
//
//   bench_read_plot [runs]      (default 7 runs)

#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int LineCount = 1'000'000;

// "IN;", the sample's 18-line circle blocks over and over, "SP0;" last.
QByteArray MakePlotText()
{
    const QStringList sample = BuiltInSampleLines();
    const QStringList body = sample.mid(1, sample.size() - 2);
    QByteArray text;
    text.reserve(LineCount * 13);
    text += "IN;\n";
    for (int i = 0; i < LineCount - 2; ++i) {
        text += body.at(i % body.size()).toLatin1();
        text += '\n';
    }
    text += "SP0;\n";
    return text;
}

// Resident set size and its peak, in KiB, from /proc/self/status.
long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

// Resets the peak to the current resident size (Linux 4.0 and later).
bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    const QString path = dir.filePath(QStringLiteral("million.plt"));
    qint64 fileSize = 0;
    {
        const QByteArray text = MakePlotText();
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        fileSize = text.size();
    }

    // Memory first, in a process that has not yet held a store.
    const bool peakReset = ResetPeak();
    const long rssBefore = StatusKiB("VmRSS");
    long peakDelta = 0, retained = 0;
    int polygons = 0;
    {
        TPLT store;
        ReadPlotFile(store, path);
        peakDelta = StatusKiB("VmHWM") - rssBefore;
        retained = StatusKiB("VmRSS") - rssBefore;
        polygons = store.NPolygons();
    }

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        TPLT store;
        const auto start = std::chrono::steady_clock::now();
        ReadPlotFile(store, path);
        const auto stop = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(ms.begin(), ms.end());

    const double fileMiB = double(fileSize) / (1024.0 * 1024.0);
    std::printf("file:   %d lines, %lld bytes (%.2f MiB), %d polylines\n", LineCount,
                static_cast<long long>(fileSize), fileMiB, polygons);
    std::printf("time:   median %.1f ms, min %.1f ms, max %.1f ms over %d runs (goal <= 150 ms)\n",
                ms[ms.size() / 2], ms.front(), ms.back(), runs);
    std::printf("memory: peak %.2f MiB above the starting RSS (%.2fx the file, goal <= 3x)%s; "
                "store keeps %.2f MiB\n",
                double(peakDelta) / 1024.0, double(peakDelta) * 1024.0 / double(fileSize),
                peakReset ? "" : " [peak could not be reset; figure includes set-up]", double(retained) / 1024.0);
    return 0;
}
