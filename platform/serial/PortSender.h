#pragma once

// Writing a job to a cutter on a serial line or a USB printer port, as the
// port accepts it: in chunks of about 50 ms of line time, holding while the
// cutter says XOFF (read here, not left to the terminal driver) or drops
// CTS, and drained before the port is closed so the last bytes are not lost.
// Blocking, with every wait bounded: for a worker thread, never the window's.

#include "cutter/DeviceSettings.h"
#include "cutter/PortSettings.h"
#include "platform/JobProgress.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The byte channel to one cutter. The sender sees the port only through
// this, so flow control the tests cannot fake on a pseudo-terminal (CTS) can
// be driven by a substitute.
class TPortLink {
public:
    enum Ready { Writable = 1, Readable = 2, HungUp = 4 };
    enum class Drained { Yes, TimedOut, Lost };

    TPortLink() = default;
    virtual ~TPortLink() = default;
    TPortLink(const TPortLink&) = delete;
    TPortLink& operator=(const TPortLink&) = delete;

    // Waits at most wait for the port to take bytes (only when wantWrite),
    // for the cutter to have sent something, or for a hang-up; Ready bits.
    virtual int Wait(bool wantWrite, std::chrono::milliseconds wait) = 0;
    // Bytes taken or read, possibly 0; -1 when the port failed.
    virtual std::int64_t Write(const char* data, std::int64_t size) = 0;
    virtual std::int64_t Read(char* data, std::int64_t size) = 0;
    // The cutter's CTS line; true where the port has none to report.
    virtual bool ClearToSend() = 0;
    // Waits until what the port still holds has gone out on the line.
    virtual Drained Drain(std::chrono::milliseconds limit) = 0;
    virtual std::string Name() const = 0;
    // Drops what the port holds and has not sent yet (a stopped job).
    virtual void Discard() {}
    // How many bytes the port has received with framing, parity or overrun
    // errors since it was opened; -1 where the port cannot tell.
    virtual std::int64_t LineErrors() { return -1; }

    // Whether StopJobs (or StopPortJobs) was called since this link was made.
    bool Stopped() const;

private:
    TStopMark FStopMark;
};

// Opens and sets up a port for one job (exclusively: a port another program
// holds is refused). Throws EPrinter with what the user can do: no
// permission (naming the node's group and the command that joins it), a
// port in use, a port that is not there; EOSError for anything else.
std::unique_ptr<TPortLink> OpenPort(const std::string& path, const PortSettings& settings);

// Sends the whole job or throws EPrinter saying it was not completed: the
// cutter went away, held XOFF or took nothing (CTS down, a full port) for
// longer than the limit, or the job was stopped. A stopped job in a cutter
// language ends with the tool up: the pair under way is finished and the job
// closed; bytes of no known language are dropped where they stand.
void SendToPort(TPortLink& link, const PortSettings& settings, std::string_view job, SendAs language = SendAs::Driver);

// How long a cutter may hold the job before it counts as failed (30 s by
// default; tests shorten it).
struct PortTimeLimits {
    std::chrono::milliseconds Hold{30000};
};
void SetPortTimeLimits(const PortTimeLimits& limits);
PortTimeLimits CurrentPortTimeLimits();

// Every job on a port stops after the chunk it is writing (the window closes);
// the same as StopJobs.
void StopPortJobs();

// Whether a job holds the port open now (the status line's "Print").
bool PortSending(const std::string& path);
