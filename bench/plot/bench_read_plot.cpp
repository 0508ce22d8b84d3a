// Reads plot files from disk and prints the median time and the peak memory
// against each file's size: 1,000,000 lines in the built-in sample's layout,
// the same number of lines in the worst layout for memory, where every line
// is a polyline of one point, and 1,000,000 HP-GL instructions on one line.
// The HP-GL file is also read by a whole process of its own, timed against
// hp2xx converting the same file (-m gpt), when hp2xx is installed, and read
// again in the style of a graphing library, with IP and SC scaling every
// coordinate, timed against the same file without them.
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
    const std::vector<std::string> sample = BuiltInSampleLines();
    const std::vector<std::string> body(sample.begin() + 1, sample.end() - 1);
    QByteArray text;
    text.reserve(lines * 13);
    text += "IN;\n";
    for (qint64 i = 0; i < lines - 2; ++i) {
        text += QByteArray::fromStdString(body.at(static_cast<std::size_t>(i) % body.size()));
        text += '\n';
    }
    text += "SP0;\n";
    return text;
}

QByteArray OnePointPolylines(qint64 lines)
{
    return QByteArray("PU1 1;\n").repeated(lines);
}

// As drawing programs write it: all on one line, a pen-up move and then
// cuts of one to three points, with commas; scaled, with the scaling points
// and user units a graphing library sets.
QByteArray HpglOneLine(qint64 instructions, bool scaled = false)
{
    QByteArray text = scaled ? "IN;IP0,0,8128,8128;SC0,10000,0,10000;VS10;SP1;" : "IN;VS10;SP1;";
    text.reserve(instructions * 16);
    for (qint64 i = 0; i < instructions - 4; ++i) {
        const qint64 x = (i * 7919) % 40000, y = (i * 104729) % 40000;
        if (i % 3 == 0)
            text += "PU" + QByteArray::number(x) + ',' + QByteArray::number(y) + ';';
        else
            text += "PD" + QByteArray::number(y) + ',' + QByteArray::number(x) + ',' + QByteArray::number(x + 40) + ','
                    + QByteArray::number(y) + ';';
    }
    return text + "PU;SP0;";
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
        ReadPlotFile(store, path);
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

// Runs a program to its end with its output thrown away; the wall time in
// ms, or a negative value when it failed.
double RunProgram(const std::vector<const char*>& argv)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (std::strcmp(argv[0], "/proc/self/exe") != 0)
            std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const char* a : argv)
            args.push_back(const_cast<char*>(a));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void MeasureInNewProcess(const QString& path, qint64 fileSize)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray size = QByteArray::number(fileSize);
    if (RunProgram({"/proc/self/exe", "--measure", file.constData(), size.constData()}) < 0)
        std::printf("  memory: the measuring process failed\n");
}

// The whole process that reads the file (this program, started afresh)
// against hp2xx converting it, median wall times.
void CompareWithHp2xx(const QString& path, int runs)
{
    const QByteArray file = QFile::encodeName(path);
    std::vector<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
        ours.push_back(RunProgram({"/proc/self/exe", "--read", file.constData()}));
        theirs.push_back(RunProgram({"hp2xx", "-q", "-m", "gpt", "-f", "/dev/null", file.constData()}));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    if (ours.front() < 0 || theirs.front() < 0) {
        std::printf("  whole process: %s\n",
                    theirs.front() < 0 ? "hp2xx did not run (is it installed?)" : "the reading process failed");
        return;
    }
    const double a = ours[ours.size() / 2], b = theirs[theirs.size() / 2];
    std::printf("  whole process: read %.0f ms, hp2xx -m gpt %.0f ms: %.3fx (goal <= 0.25x), median of %d\n", a, b,
                a / b, runs);
}

bool RunCase(const QTemporaryDir& dir, const char* name, const QByteArray& text, qint64 lines, int runs,
             bool againstHp2xx = false, double* median = nullptr)
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
        ReadPlotFile(store, QFile::encodeName(path).toStdString());
        const auto stop = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        polygons = store.NPolygons();
    }
    std::sort(ms.begin(), ms.end());

    std::printf("  time:   median %.1f ms, min %.1f ms, max %.1f ms over %d runs; %d polylines\n", ms[ms.size() / 2],
                ms.front(), ms.back(), runs, polygons);
    if (median)
        *median = ms[ms.size() / 2];
    if (againstHp2xx)
        CompareWithHp2xx(path, std::min(runs, 5));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0)
        return MeasureMemory(argv[2], std::atoll(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--read") == 0) {
        TPLT store;
        ReadPlotFile(store, argv[2]);
        return store.NPolygons() > 0 ? 0 : 1;
    }

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
    std::printf("goals: 1,000,000 sample lines in <= 150 ms; any accepted file peaks below 1 GiB and 6x its size; "
                "HP-GL read by a whole process in <= 0.25x hp2xx's time; scaled by IP and SC in <= 1.2x the time "
                "unscaled\n");
    double plain = 0, scaled = 0;
    bool ok =
        RunCase(dir, "sample layout", SampleLayout(LineCount), LineCount, runs)
        && RunCase(dir, "one point per polyline", OnePointPolylines(LineCount), LineCount, runs)
        && RunCase(dir, "HP-GL instructions on one line", HpglOneLine(LineCount), LineCount, runs, true, &plain)
        && RunCase(dir, "the same, scaled by IP and SC", HpglOneLine(LineCount, true), LineCount, runs, false, &scaled);
    if (ok)
        std::printf("IP/SC scaling: %.1f ms against %.1f ms unscaled, %.2fx (goal <= 1.2x)\n", scaled, plain,
                    scaled / plain);
    if (ok && atLimit) {
        const qint64 lines = MaxPlotFileSize / 7;
        ok = RunCase(dir, "one point per polyline, largest accepted file", OnePointPolylines(lines), lines,
                     std::min(runs, 3));
    }
    return ok ? 0 : 1;
}
