#pragma once

// The active device's display name and whether its queue holds jobs.

#include "platform/Spooler.h"

#include <memory>
#include <string>

// Opens the printer object's current device in the spooler. Throws EPrinter
// when there is no device and EOSError when the spooler cannot open it.
std::unique_ptr<SpoolerHandle> OpenActivePrinter();

// The device's name from its spooler record: empty text when it cannot be
// opened, "No printer" when its record cannot be read. Throws only EPrinter
// for no device at all.
std::string GetPrinterName();

// "Print" when the queue holds any job in any state, otherwise
// "No jobs in queue". Throws as OpenActivePrinter does, and EOSError when
// the jobs cannot be counted.
std::string GetQueueStatus();

// What became of a job of ours after the hand-over.
struct TJobOutcome {
    enum Kind {
        OnItsWay,  // waiting or printing
        Stuck,     // on a queue that the device's failure on it stopped
        Completed, // the device took it all
        Failed     // aborted or canceled
    };
    Kind State = OnItsWay;
    // The server's reason when the queue is stopped, the device is missing
    // or the job failed; empty while all is well.
    std::string Reason;
    // For Stuck and Failed: what the user is told, once.
    std::string Message;
};

// Asks the job's own queue about it (not the active device's). Throws
// EOSError when the server cannot be asked or no longer knows the queue.
TJobOutcome FollowJob(const HandedJob& job);
