#pragma once

// How far the job being sent has got, and the user's wish to stop it.

#include <cstdint>

struct JobProgress {
    bool Sending = false;
    std::int64_t Sent = 0;
    std::int64_t Total = -1;
    double SecondsLeft = -1;
};

void BeginJobProgress(std::int64_t total);
void AddJobProgress(std::int64_t bytes);
void EndJobProgress();
JobProgress CurrentJobProgress();

// Every job being sent stops after its current chunk.
void StopJobs();

// Taken when a job starts: whether StopJobs was called since.
class TStopMark {
public:
    TStopMark();
    bool Stopped() const;

private:
    unsigned FMark;
};

// The failure a sender throws when it stopped on request (EPrinter).
[[noreturn]] void ThrowJobStopped(std::int64_t sent, std::int64_t total);
