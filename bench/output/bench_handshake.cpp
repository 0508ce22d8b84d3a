// A plot of some 76 kB in HPGL sent to a small-buffer cutter played on a
// pseudo-terminal (tests/support/PlayedCutter): asked before each block
// (flow control "query") against XON/XOFF (the cutter says XOFF with a
// quarter of its buffer free, XON with half), alternating in the same run,
// for buffers of 1 KiB and 16 KiB. The terminal is far faster than the
// cutter drains, so both are held back by the cutter; the difference is
// what the questions cost. Prints the medians.
//
//   bench_handshake [runs] [drain]   runs defaults to 3, drain (bytes/s) to 48000

#include "bench/BenchSupport.h"
#include "cutter/CutterLanguage.h"
#include "platform/serial/PortSender.h"
#include "tests/support/PlayedCutter.h"

#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Zigzags of whole pairs across an A4 sheet, as the tests' plot.
std::string PlotJob()
{
    StringSink sink;
    const auto encoder = MakeCutterEncoder(SendAs::HPGL, sink);
    encoder->Begin();
    for (std::int64_t line = 0; line < 570; ++line) {
        encoder->MoveTo({(line * 37) % 8000, (line * 53) % 11000});
        for (std::int64_t point = 1; point <= 12; ++point)
            encoder->CutTo({(line * 37 + point * 211) % 8000, (line * 53 + (point % 2) * 977) % 11000});
    }
    encoder->End();
    return sink.Take();
}

struct Run {
    double Ms = -1;
    std::int64_t Questions = 0;
};

// One job to a fresh cutter: milliseconds until the cutter has taken every
// byte, or -1 when it did not get the job whole.
Run Send(const std::string& job, const char* line, std::int64_t buffer, std::int64_t drain)
{
    const bool xon = std::string(line).ends_with("xonxoff");
    PlayedCutter::Setup setup;
    setup.BufferBytes = buffer;
    setup.DrainPerSecond = drain;
    setup.XoffAtFree = xon ? buffer / 4 : -1;
    setup.XonAtFree = xon ? buffer / 2 : -1;
    PlayedCutter cutter(setup);
    const PortSettings settings = ParsePortSettings(line).value();
    QElapsedTimer t;
    t.start();
    {
        auto link = OpenPort(cutter.Path(), settings);
        SendToPort(*link, settings, job, SendAs::HPGL);
    }
    const bool whole = cutter.WaitForBytes(static_cast<std::int64_t>(job.size()), 5s) && cutter.Dropped() == 0
                       && cutter.Accepted() == job;
    return {whole ? static_cast<double>(t.nsecsElapsed()) / 1e6 : -1, cutter.Questions()};
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = RunCount(argc, argv, 3);
    const std::int64_t drain = argc > 2 ? std::max(100, std::atoi(argv[2])) : 48000;
    const std::string job = PlotJob();
    std::printf("HPGL job %.1f kB; the cutter drains %lld bytes/s\n", static_cast<double>(job.size()) / 1000.0,
                static_cast<long long>(drain));
    for (const std::int64_t buffer : {1024, 16384}) {
        std::vector<double> asked, xon;
        std::int64_t questions = 0;
        for (int i = 0; i < runs; ++i) {
            const Run a = Send(job, "460800,8,N,1,query", buffer, drain);
            const Run x = Send(job, "460800,8,N,1,xonxoff", buffer, drain);
            if (a.Ms < 0 || x.Ms < 0) {
                std::fprintf(stderr, "bench_handshake: a job did not arrive whole\n");
                return 1;
            }
            asked.push_back(a.Ms);
            xon.push_back(x.Ms);
            questions = a.Questions;
        }
        const double a = Median(asked), x = Median(xon);
        std::printf("buffer %5lld B: asked median %.0f ms (%.0f bytes/s, %lld questions), XON/XOFF median %.0f ms "
                    "(%.0f bytes/s) over %d runs each: asked/XON/XOFF throughput %.3f\n",
                    static_cast<long long>(buffer), a, static_cast<double>(job.size()) * 1000.0 / a,
                    static_cast<long long>(questions), x, static_cast<double>(job.size()) * 1000.0 / x, runs, x / a);
    }
    return 0;
}
