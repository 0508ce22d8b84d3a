#include "platform/JobProgress.h"

#include "common/Exceptions.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned> StopCount{0};
std::atomic<bool> Ending{false};
static_assert(std::atomic<unsigned>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler stops jobs");

std::mutex ProgressMutex;
JobProgress Progress;
Clock::time_point Began;

QString Amount(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(double(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

} // namespace

void BeginJobProgress(qint64 total)
{
    std::lock_guard lock(ProgressMutex);
    Progress = {true, 0, total, -1};
    Began = Clock::now();
}

void AddJobProgress(qint64 bytes)
{
    std::lock_guard lock(ProgressMutex);
    Progress.Sent += bytes;
    // A rate from the first half second would swing with the line's start.
    const double seconds = std::chrono::duration<double>(Clock::now() - Began).count();
    if (Progress.Total >= 0 && seconds >= 0.5 && Progress.Sent > 0)
        Progress.SecondsLeft = double(Progress.Total - Progress.Sent) * seconds / double(Progress.Sent);
}

void EndJobProgress()
{
    std::lock_guard lock(ProgressMutex);
    Progress.Sending = false;
}

JobProgress CurrentJobProgress()
{
    std::lock_guard lock(ProgressMutex);
    return Progress;
}

QString JobProgressText(const JobProgress& p)
{
    if (p.Total <= 0)
        return Amount(p.Sent) + QStringLiteral(" sent");
    // Both amounts in the total's unit: "4.5 of 9.9 KiB".
    const double unit = p.Total < 1024 ? 1.0 : p.Total < 1024 * 1024 ? 1024.0 : 1024.0 * 1024;
    const QString sent = unit == 1.0 ? QString::number(p.Sent) : QString::number(double(p.Sent) / unit, 'f', 1);
    QString text = QStringLiteral("%1 %: %2 of %3").arg(p.Sent * 100 / p.Total).arg(sent, Amount(p.Total));
    if (p.SecondsLeft >= 0) {
        const qint64 s = qRound64(p.SecondsLeft);
        text += QStringLiteral(", %1:%2 left").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

void StopJobs()
{
    ++StopCount;
}

void EndJobs() noexcept
{
    Ending = true;
    ++StopCount;
}

TStopMark::TStopMark() : FMark(StopCount.load())
{}

bool TStopMark::Stopped() const
{
    return Ending.load() || StopCount.load() != FMark;
}

void ThrowJobStopped(qint64 sent, qint64 total)
{
    throw EPrinter(total >= 0 ? QStringLiteral("The job was stopped: %1 of %2 bytes sent").arg(sent).arg(total)
                              : QStringLiteral("The job was stopped: %1 bytes sent").arg(sent));
}
