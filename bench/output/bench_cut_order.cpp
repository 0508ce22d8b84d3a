// Pen-up travel and time of the cut order, in one run:
//   - a 10,000-path HPGL file in random order: travel as drawn and ordered
//     (goal: at most 10 %), and ordering time against reading the same file;
//   - files in a drawing program's own order: the built-in sample and a page
//     of text-like glyphs written letter by letter, outline before counters;
//   - the whole HPGL job of the random file, ordered against as drawn;
//   - two files that nest or pile up shapes: 30,000 concentric squares and
//     100,000 copies of one square, each job in a process of its own for its
//     peak memory, ordered against as drawn (goal: under 1 s, under 200 MB).
//
//   bench_cut_order [runs]        runs defaults to 5

#include "cutter/CutOrder.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "tests/support/SurfaceDrawing.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int PathCount = 10'000;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Stroke(QByteArray& out, const std::vector<std::pair<int, int>>& points)
{
    out += "PU" + QByteArray::number(points[0].first) + ',' + QByteArray::number(points[0].second) + ";PD";
    for (size_t i = 1; i < points.size(); ++i)
        out += (i > 1 ? "," : "") + QByteArray::number(points[i].first) + ',' + QByteArray::number(points[i].second);
    out += ";\n";
}

// Squares, circles and open strokes a few mm across, anywhere on a 1 m square.
QByteArray RandomFile()
{
    std::mt19937 random(24);
    QByteArray out = "IN;SP1;\n";
    for (int i = 0; i < PathCount; ++i) {
        const int x = static_cast<int>(random() % 40000), y = static_cast<int>(random() % 40000);
        const int s = 40 + static_cast<int>(random() % 400);
        switch (i % 3) {
        case 0: Stroke(out, {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}, {x, y}}); break;
        case 1:
            out +=
                "PU" + QByteArray::number(x) + ',' + QByteArray::number(y) + ";CI" + QByteArray::number(s / 2) + ";\n";
            break;
        default: Stroke(out, {{x, y}, {x + s, y + s / 2}, {x + s / 3, y + s}}); break;
        }
    }
    return out + "PU0,0;\n";
}

// Rows of glyphs as a drawing program stores text: letter after letter, row
// after row, each letter's outline before its counters.
QByteArray TextFile()
{
    QByteArray out = "IN;SP1;\n";
    for (int row = 0; row < 25; ++row)
        for (int col = 0; col < 40; ++col) {
            const int x = col * 400, y = (25 - row) * 640, w = 320, h = 480;
            switch ((row + col) % 4) {
            case 0: // O
                Stroke(out, {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}, {x, y}});
                Stroke(out, {{x + 80, y + 80},
                             {x + w - 80, y + 80},
                             {x + w - 80, y + h - 80},
                             {x + 80, y + h - 80},
                             {x + 80, y + 80}});
                break;
            case 1: // B
                Stroke(out, {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}, {x, y}});
                Stroke(out,
                       {{x + 80, y + 60}, {x + 240, y + 60}, {x + 240, y + 200}, {x + 80, y + 200}, {x + 80, y + 60}});
                Stroke(
                    out,
                    {{x + 80, y + 280}, {x + 240, y + 280}, {x + 240, y + 420}, {x + 80, y + 420}, {x + 80, y + 280}});
                break;
            case 2: // A
                Stroke(out, {{x, y}, {x + w / 2, y + h}, {x + w, y}, {x, y}});
                Stroke(out, {{x + 120, y + 100}, {x + 200, y + 100}, {x + 160, y + 220}, {x + 120, y + 100}});
                break;
            default: // l
                Stroke(out, {{x + w / 2, y}, {x + w / 2, y + h}});
            }
        }
    return out + "PU0,0;\n";
}

// Squares round one centre, one plotter unit apart each side, the outermost first.
QByteArray ConcentricFile(int count)
{
    QByteArray out = "IN;SP1;\n";
    const int c = count + 10;
    for (int i = count; i > 0; --i) {
        const QByteArray a = QByteArray::number(c - i), b = QByteArray::number(c + i);
        out += "PU" + a + ',' + a + ";PD" + b + ',' + a + ',' + b + ',' + b + ',' + a + ',' + b + ',' + a + ',' + a
               + ";\n";
    }
    return out + "PU0,0;\n";
}

QByteArray CopiesFile(int count)
{
    QByteArray out = "IN;SP1;\n";
    for (int i = 0; i < count; ++i)
        out += "PU400,400;PD800,400,800,800,400,800,400,400;\n";
    return out + "PU0,0;\n";
}

CutPaths PathsOf(const TPLT& store)
{
    CutPaths paths;
    paths.reserve(static_cast<size_t>(store.NPolygons()));
    for (const TPolygonView poly : store.Polygons()) {
        std::vector<PointMm> p;
        p.reserve(poly.Points.size());
        for (const TPoint q : poly.Points)
            p.push_back({q.X / 100.0, q.Y / 100.0});
        paths.push_back(std::move(p));
    }
    return paths;
}

// The time to write the whole job, in ms.
double JobMs(const TPLT& store, CutOrderMode mode, size_t& bytes)
{
    static Plot plot;
    if (plot.empty())
        for (const TPolygonView poly : store.Polygons())
            plot.emplace_back(poly.Points.begin(), poly.Points.end());
    DeviceSettings s = Sheet(1050, 1050);
    s.Language = SendAs::HPGL;
    s.Corrections.Order = mode;
    QElapsedTimer t;
    t.start();
    StringSink sink;
    CutterSurface surface(s, Dpi, sink);
    Print(surface, OrientPage(s), {0, 0}, plot);
    surface.Finish();
    bytes = sink.Bytes().size();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

struct ChildRun {
    double JobMs = -1;
    double OrderMs = -1;
    double PeakMiB = -1;
};

// The whole HPGL job of the plot on a 2 m sheet, in a process of its own:
// its time, the ordering's alone (optimised), and the process's peak
// resident memory, the plot's own included.
ChildRun JobInChild(const TPLT& store, CutOrderMode mode)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        double figures[2] = {-1, -1};
        Plot plot;
        for (const TPolygonView poly : store.Polygons())
            plot.emplace_back(poly.Points.begin(), poly.Points.end());
        DeviceSettings s = Sheet(2000, 2000);
        s.Language = SendAs::HPGL;
        s.Corrections.Order = mode;
        QElapsedTimer t;
        t.start();
        StringSink sink;
        CutterSurface surface(s, Dpi, sink);
        Print(surface, OrientPage(s), {0, 0}, plot);
        surface.Finish();
        figures[0] = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (mode == CutOrderMode::Optimised) {
            const CutPaths paths = PathsOf(store);
            t.start();
            const CutOrder order = OrderCuts(paths);
            figures[1] = order.Steps.size() == paths.size() ? static_cast<double>(t.nsecsElapsed()) / 1e6 : -1;
        }
        const bool sent = ::write(pipeFds[1], figures, sizeof figures) == sizeof figures;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    double figures[2] = {-1, -1};
    const bool read = pid > 0 && ::read(pipeFds[0], figures, sizeof figures) == sizeof figures;
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid || !read || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return {figures[0], figures[1], static_cast<double>(usage.ru_maxrss) / 1024};
}

// True when the optimised job met the goal.
bool ReportHostile(const char* name, const QByteArray& file)
{
    TPLT store;
    ReadHpglData(store, std::string_view(file.constData(), static_cast<std::size_t>(file.size())), "hostile.plt");
    const ChildRun drawn = JobInChild(store, CutOrderMode::Drawn);
    const ChildRun optimised = JobInChild(store, CutOrderMode::Optimised);
    std::printf("%s (%d paths, %.1f MiB): whole job as drawn %.0f ms, %.0f MiB peak; optimised %.0f ms, %.0f MiB "
                "peak, of which ordering %.0f ms (goal: under 1000 ms, 200 MB)\n",
                name, store.NPolygons(), static_cast<double>(file.size()) / (1 << 20), drawn.JobMs, drawn.PeakMiB,
                optimised.JobMs, optimised.PeakMiB, optimised.OrderMs);
    return optimised.JobMs >= 0 && optimised.JobMs < 1000 && optimised.PeakMiB * 1.048576 < 200;
}

void Report(const char* name, const CutPaths& paths)
{
    const CutOrder order = OrderCuts(paths);
    std::printf("%s: %zu paths, pen-up travel %.0f mm as drawn, %.0f mm ordered (%.1f %%)\n", name, paths.size(),
                order.TravelBeforeMm, order.TravelAfterMm, 100 * order.TravelAfterMm / order.TravelBeforeMm);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const QByteArray file = RandomFile();
    std::vector<double> readMs, orderMs;
    CutOrder order;
    CutPaths paths;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        TPLT store;
        t.start();
        ReadHpglData(store, std::string_view(file.constData(), static_cast<std::size_t>(file.size())), "random.plt");
        readMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        paths = PathsOf(store);
        t.start();
        order = OrderCuts(paths);
        orderMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::vector<double> drawnMs, orderedMs;
    size_t drawnBytes = 0, orderedBytes = 0;
    {
        TPLT store;
        ReadHpglData(store, std::string_view(file.constData(), static_cast<std::size_t>(file.size())), "random.plt");
        for (int i = 0; i < runs; ++i) {
            drawnMs.push_back(JobMs(store, CutOrderMode::Drawn, drawnBytes));
            orderedMs.push_back(JobMs(store, CutOrderMode::Optimised, orderedBytes));
        }
    }
    const double ratio = order.TravelAfterMm / order.TravelBeforeMm;
    std::printf("random file: %zu paths (%.1f KiB), pen-up travel %.0f mm as drawn, %.0f mm ordered: %.1f %% "
                "(goal <= 10 %%)\n",
                paths.size(), static_cast<double>(file.size()) / 1024, order.TravelBeforeMm, order.TravelAfterMm,
                100 * ratio);
    const double r = Median(readMs), o = Median(orderMs);
    std::printf("median over %d runs: reading %.2f ms, ordering %.2f ms: ratio %.2f (goal <= 1)\n", runs, r, o, o / r);

    std::printf("whole HPGL job of the random file: %.2f ms as drawn (%zu bytes), %.2f ms optimised (%zu bytes): "
                "%.2fx\n",
                Median(drawnMs), drawnBytes, Median(orderedMs), orderedBytes, Median(orderedMs) / Median(drawnMs));

    TPLT sample;
    ReadPlotText(sample, BuiltInSampleLines());
    Report("built-in sample", PathsOf(sample));
    TPLT text;
    const QByteArray textFile = TextFile();
    ReadHpglData(text, std::string_view(textFile.constData(), static_cast<std::size_t>(textFile.size())), "text.plt");
    Report("text-like page", PathsOf(text));
    const bool nested = ReportHostile("30,000 concentric squares", ConcentricFile(30'000));
    const bool copies = ReportHostile("100,000 copies of one square", CopiesFile(100'000));
    return ratio <= 0.10 && o <= r && nested && copies ? 0 : 1;
}
