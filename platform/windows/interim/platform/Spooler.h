#pragma once

// Spooler query types and the per-thread last failure and handed job.

#include <memory>
#include <optional>
#include <string>
#include <vector>

class SpoolerHandle {
public:
    virtual ~SpoolerHandle() = default;
};

struct PrinterInfo2 {
    std::optional<std::string> PrinterName;
    std::string DriverName;
    std::string PortName;
    std::string Location;
    std::string Comment;
    std::string StatusText;
    bool Stopped = false;
    std::string StateMessage;
    std::vector<std::string> StateReasons;
};

struct HandedJob {
    std::string Device;
    int Id = 0;
};
HandedJob TakeHandedJob();
void NoteHandedJob(const HandedJob& job);

enum class JobState { Pending, Held, Processing, Stopped, Canceled, Aborted, Completed };
struct JobRecord {
    JobState State = JobState::Pending;
    std::string DeviceMessage;
};

inline constexpr int SpoolerUnavailableCode = 0x0502;

struct SpoolerError {
    int Code = 0;
    std::string Text;
};
SpoolerError LastSpoolerError();
void SetLastSpoolerError(const SpoolerError& error);

struct DestinationInfo {
    std::string Name;
    PrinterInfo2 Info;
    bool IsDefault = false;
};
