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

std::string Amount(std::int64_t bytes)
{
    if (bytes < 1024)
        return Format("%1 bytes", bytes);
    if (bytes < 1024 * 1024)
        return Format("%1 KiB", FixedNumber(double(bytes) / 1024, 1));
    return Format("%1 MiB", FixedNumber(double(bytes) / (1024 * 1024), 1));
}

} // namespace

void BeginJobProgress(std::int64_t total)
{
    std::lock_guard lock(ProgressMutex);
    Progress = {true, 0, total, -1};
    Began = Clock::now();
}

void AddJobProgress(std::int64_t bytes)
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

std::string JobProgressText(const JobProgress& p)
{
    if (p.Total <= 0)
        return Amount(p.Sent) + " sent";
    // Both amounts in the total's unit: "4.5 of 9.9 KiB".
    const double unit = p.Total < 1024 ? 1.0 : p.Total < 1024 * 1024 ? 1024.0 : 1024.0 * 1024;
    const std::string sent = unit == 1.0 ? std::to_string(p.Sent) : FixedNumber(double(p.Sent) / unit, 1);
    std::string text = Format("%1 %: %2 of %3", p.Sent * 100 / p.Total, sent, Amount(p.Total));
    if (p.SecondsLeft >= 0) {
        const auto s = static_cast<std::int64_t>(p.SecondsLeft + 0.5);
        text += Format(", %1:%2%3 left", s / 60, s % 60 < 10 ? "0" : "", s % 60);
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

void ThrowJobStopped(std::int64_t sent, std::int64_t total, std::string_view trouble)
{
    std::string message = total >= 0 ? Format("The job was stopped: %1 of %2 bytes sent", sent, total)
                                     : Format("The job was stopped: %1 bytes sent", sent);
    if (!trouble.empty())
        message += Format("; %1", trouble);
    throw EPrinter(message);
}
