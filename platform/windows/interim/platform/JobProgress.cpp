#include "platform/JobProgress.h"

#include "common/Exceptions.h"

#include <atomic>
#include <mutex>
#include <string>

namespace {
std::atomic<unsigned> StopCount{0};
std::mutex ProgressMutex;
JobProgress Progress;
} // namespace

void BeginJobProgress(std::int64_t total)
{
    std::lock_guard lock(ProgressMutex);
    Progress = {true, 0, total, -1};
}

void AddJobProgress(std::int64_t bytes)
{
    std::lock_guard lock(ProgressMutex);
    Progress.Sent += bytes;
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

void StopJobs()
{
    ++StopCount;
}

TStopMark::TStopMark() : FMark(StopCount.load())
{}

bool TStopMark::Stopped() const
{
    return StopCount.load() != FMark;
}

void ThrowJobStopped(std::int64_t sent, std::int64_t total)
{
    throw EPrinter(total >= 0
                       ? "The job was stopped: " + std::to_string(sent) + " of " + std::to_string(total) + " bytes sent"
                       : "The job was stopped: " + std::to_string(sent) + " bytes sent");
}
