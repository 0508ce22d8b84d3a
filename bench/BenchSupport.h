#pragma once

// Small pieces shared by the benchmarks that run against a private print
// server.

#include "plot/SampleText.h"
#include "tests/support/PrivateCupsServer.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The middle value of the samples (the upper one of an even count).
inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The run count given as the first argument, or the default.
inline int RunCount(int argc, char** argv, int defaultRuns)
{
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : defaultRuns;
}

// False, with the reason on stderr, when the private server did not start.
inline bool ServerStarted(const PrivateCupsServer& server, const char* program)
{
    if (server.isValid())
        return true;
    std::fprintf(stderr, "%s: %s\n", program, qPrintable(server.errorText()));
    return false;
}

// The private server with the raw queue ("RawCutter") the raw benchmarks cut to.
inline bool RawQueueStarted(PrivateCupsServer& server, const QString& queue, const char* program)
{
    if (!ServerStarted(server, program))
        return false;
    if (server.addRawQueue(queue))
        return true;
    std::fprintf(stderr, "%s: cannot add the raw queue\n", program);
    return false;
}

// Waits for the raw queue to pass a job on and returns the size of what it
// passed on, -1 when nothing came in time. The kept copies are dropped, so
// neither side's job is still being processed while the other is timed.
inline qint64 DrainRawJobs(const PrivateCupsServer& server, int timeoutMs)
{
    if (!server.waitForRawJobFiles(1, timeoutMs))
        return -1;
    qint64 size = 0;
    for (const QString& f : server.rawJobFiles()) {
        size += QFile(f).size();
        QFile::remove(f);
    }
    return size;
}

// A large plot: the sample's circles over and over, framed by "IN;" and
// "SP0;", lines lines in all.
inline QByteArray SampleLayout(int lines)
{
    const std::vector<std::string> sample = BuiltInSampleLines();
    const std::vector<std::string> body(sample.begin() + 1, sample.end() - 1);
    QByteArray text = "IN;\n";
    for (int i = 0; i < lines - 2; ++i)
        text += QByteArray::fromStdString(body.at(static_cast<std::size_t>(i) % body.size())) + '\n';
    return text + "SP0;\n";
}
