// Reads plot files from disk and prints the median time and the peak memory
// against each file's size: 1,000,000 lines in the built-in sample's layout,
// and the same number of lines in the worst layout for memory, where every
// line is a polyline of one point.
//
//   bench_read_plot [runs] [--at-limit]
//
// runs defaults to 7; --at-limit also reads a worst-layout file of the
// largest accepted size. Each peak is measured in a new process that reads
// the file once; its RSS before the read is printed as the baseline.

#include "platform/PlotFile.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int LineCount = 1'000'000;

// "IN;", the sample's 18-line circle blocks over and over, "SP0;" last.
QByteArray SampleLayout(qint64 lines)
{
    const QStringList sample = BuiltInSampleLines();
    const QStringList body = sample.mid(1, sample.size() - 2);
    QByteArray text;
    text.reserve(lines * 13);
    text += "IN;\n";
    for (qint64 i = 0; i < lines - 2; ++i) {
        text += body.at(i % body.size()).toLatin1();
        text += '\n';
    }
    text += "SP0;\n";
    return text;
}

QByteArray OnePointPolylines(qint64 lines)
{
    return QByteArray("PU1 1;\n").repeated(lines);
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

// Reads the file once and prints the memory figures; run in a process of
// its own, started afresh, so no freed memory of earlier reads is reused.
int MeasureMemory(const char* path, qint64 fileSize)
{
    const bool peakReset = ResetPeak();
    const long before = StatusKiB("VmRSS");
    long peak = 0, kept = 0;
    {
        TPLT store;
        ReadPlotFile(store, QString::fromLocal8Bit(path));
        peak = StatusKiB("VmHWM");
        kept = StatusKiB("VmRSS") - before;
    }
    const double delta = double(peak - before) * 1024.0;
    std::printf("  memory: baseline %.1f MiB, peak %.1f MiB (%.1f MiB above baseline, %.2fx the file)%s; "
                "%.1f MiB held after the read\n",
                double(before) / 1024.0, double(peak) / 1024.0, delta / (1024.0 * 1024.0), delta / double(fileSize),
                peakReset ? "" : " [peak could not be reset]", double(kept) / 1024.0);
    return 0;
}

void MeasureInNewProcess(const QString& path, qint64 fileSize)
{
    std::fflush(stdout);
    const QByteArray file = QFile::encodeName(path);
    const QByteArray size = QByteArray::number(fileSize);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/proc/self/exe", "bench_read_plot", "--measure", file.constData(), size.constData(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::printf("  memory: the measuring process failed\n");
}

bool RunCase(const QTemporaryDir& dir, const char* name, const QByteArray& text, qint64 lines, int runs)
{
    const QString path = dir.filePath(QStringLiteral("bench.plt"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    const qint64 fileSize = text.size();
    std::printf("%s: %lld lines, %lld bytes (%.2f MiB)\n", name, static_cast<long long>(lines),
                static_cast<long long>(fileSize), double(fileSize) / (1024.0 * 1024.0));
    MeasureInNewProcess(path, fileSize);

    std::vector<double> ms;
    int polygons = 0;
    for (int i = 0; i < runs; ++i) {
        TPLT store;
        const auto start = std::chrono::steady_clock::now();
        ReadPlotFile(store, path);
        const auto stop = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        polygons = store.NPolygons();
    }
    std::sort(ms.begin(), ms.end());

    std::printf("  time:   median %.1f ms, min %.1f ms, max %.1f ms over %d runs; %d polylines\n", ms[ms.size() / 2],
                ms.front(), ms.back(), runs, polygons);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0)
        return MeasureMemory(argv[2], std::atoll(argv[3]));

    int runs = 7;
    bool atLimit = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--at-limit") == 0)
            atLimit = true;
        else
            runs = std::max(1, std::atoi(argv[i]));
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    std::printf("goals: 1,000,000 sample lines in <= 150 ms; any accepted file peaks below 1 GiB and 6x its size\n");
    bool ok = RunCase(dir, "sample layout", SampleLayout(LineCount), LineCount, runs)
              && RunCase(dir, "one point per polyline", OnePointPolylines(LineCount), LineCount, runs);
    if (ok && atLimit) {
        const qint64 lines = MaxPlotFileSize / 7;
        ok = RunCase(dir, "one point per polyline, largest accepted file", OnePointPolylines(lines), lines,
                     std::min(runs, 3));
    }
    return ok ? 0 : 1;
}
