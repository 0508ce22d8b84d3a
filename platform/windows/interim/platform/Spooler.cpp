#include "platform/Spooler.h"

#include <utility>

namespace {
thread_local SpoolerError LastError;
thread_local HandedJob LastHanded;
} // namespace

void SetLastSpoolerError(const SpoolerError& error)
{
    LastError = error;
}

SpoolerError LastSpoolerError()
{
    return LastError;
}

void NoteHandedJob(const HandedJob& job)
{
    LastHanded = job;
}

HandedJob TakeHandedJob()
{
    return std::exchange(LastHanded, HandedJob{});
}
