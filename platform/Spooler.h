#pragma once

// Spooler queries: open a device by name, its level-2 record, its jobs.
// Every call is bounded in time; none is meant for the window's own thread.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An open device in the spooler; each backend derives its own.
class SpoolerHandle {
public:
    virtual ~SpoolerHandle() = default;
};

struct PrinterInfo2 {
    std::optional<std::string> PrinterName;
    std::string DriverName; // make and model
    std::string PortName;   // device URI
    std::string Location;
    std::string Comment;
    std::string StatusText; // "Ready", "Paused", "Printing", ...
    bool Stopped = false;
    // The device's own last word ("Unable to open serial port: ...") and
    // the server's keywords for its state ("offline-report", ...).
    std::string StateMessage;
    std::vector<std::string> StateReasons;
};

// Open / close. OpenPrinter returns null on failure; the failure's code and
// text are then available from LastSpoolerError().
std::unique_ptr<SpoolerHandle> OpenPrinter(const std::string& name);
void ClosePrinter(std::unique_ptr<SpoolerHandle>& handle);

// Level-2 record; nullopt when the query fails.
std::optional<PrinterInfo2> GetPrinter2(SpoolerHandle& handle);

// Number of jobs in any active state (pending, held, processing), all users,
// at most maxJobs. Returns nullopt on failure.
std::optional<int> EnumJobs(SpoolerHandle& handle, int firstJob, int maxJobs);

// A job this program handed to a queue, to be followed to its end; a job's
// end returns it. Id 0 after a job to a file or a port.
struct HandedJob {
    std::string Device;
    int Id = 0; // 0: no job to follow
    friend bool operator==(const HandedJob&, const HandedJob&) = default;
};

enum class JobState { Pending, Held, Processing, Stopped, Canceled, Aborted, Completed };
struct JobRecord {
    JobState State = JobState::Pending;
    // What the device said while this job was on it (the printer's state
    // message at the time): why it failed, or why it waits to be retried.
    std::string DeviceMessage;
};
// One job of the handle's device; nullopt when the query fails (a port has
// no jobs to ask about).
std::optional<JobRecord> GetJob(SpoolerHandle& handle, int jobId);

// The code of a failure that may pass by itself: the server was not reached,
// or did not answer in time. Any other code is the server's own answer.
inline constexpr int SpoolerUnavailableCode = 0x0502;

struct SpoolerError {
    int Code = 0; // 0: the system reported no code
    std::string Text;
};
SpoolerError LastSpoolerError();

// Every destination the spooler offers, for the printer setup dialog.
struct DestinationInfo {
    std::string Name;
    PrinterInfo2 Info;
    bool IsDefault = false;
};
// Throws EOSError when the server cannot be asked, so a list that is empty
// because the server is down is never shown as "no printers".
std::vector<DestinationInfo> ListDestinations();

// The time limits of spooler calls: one query, and handing over one job.
// Seconds by default, to suit a remote server; tests shorten them.
struct SpoolerTimeLimits {
    std::chrono::milliseconds Query{5000};
    std::chrono::milliseconds Job{30000};
};
void SetSpoolerTimeLimits(const SpoolerTimeLimits& limits);
SpoolerTimeLimits CurrentSpoolerTimeLimits();
