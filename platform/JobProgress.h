#pragma once

// How far the job being sent has got, and the user's wish to stop it. The
// printer object sends one job at a time, so there is one job to speak of;
// whatever carries its bytes (a port, an upload to the server, a file)
// reports here and looks here for a stop between chunks.

#include <cstdint>
#include <string>
#include <string_view>

struct JobProgress {
    bool Sending = false;
    std::int64_t Sent = 0;
    std::int64_t Total = -1; // -1 while not known (a job sent as it is drawn)
    double SecondsLeft = -1; // -1 while the rate or the total is not known
};

// A sender's part: Begin when its first byte is about to go, Add for every
// chunk taken, End when done (any way). Safe from any thread.
void BeginJobProgress(std::int64_t total);
void AddJobProgress(std::int64_t bytes);
void EndJobProgress();
JobProgress CurrentJobProgress();

// "45 %: 4.5 of 9.9 KiB, 0:05 left", or "1.2 MiB sent" with no total yet.
std::string JobProgressText(const JobProgress& progress);

// Every job being sent stops after its current chunk: a port is left idle,
// an upload is abandoned so the server keeps nothing, a file is not left
// half-written.
void StopJobs();

// The program is ending: every job being sent stops as StopJobs stops it,
// and so does every job begun from now on, at its first chunk. Safe in a
// signal handler.
void EndJobs() noexcept;

// Taken when a job starts: whether StopJobs was called since (or EndJobs
// ever).
class TStopMark {
public:
    TStopMark();
    bool Stopped() const;

private:
    unsigned FMark;
};

// The failure a sender throws when it stopped on request (EPrinter), worded
// the same wherever the job went: "The job was stopped: 40 of 900 bytes
// sent", or "40 bytes sent" while the total is not known (total < 0).
// Trouble, when given, says what the stop left wrong.
[[noreturn]] void ThrowJobStopped(std::int64_t sent, std::int64_t total, std::string_view trouble = {});
