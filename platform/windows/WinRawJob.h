#pragma once

// A job in the cutter's own language on a Windows printer: a RAW document
// (StartDocPrinterW, WritePrinter), whose bytes the spooler hands to the
// device unchanged. The bytes go to the spooler as they are drawn, in
// chunks that show their progress and take a stop between them.

#include "platform/JobProgress.h"
#include "platform/Spooler.h"

#include <cstdint>
#include <memory>
#include <string>

class TRawQueueJob {
public:
    // Opens the printer and starts the document. Throws
    // EPrinter("Printer selected is not valid") for a printer the spooler
    // does not have, EOSError for any other refusal.
    TRawQueueJob(const std::string& device, const std::string& title);
    // Unfinished (stopped or failed), the document is deleted: the device
    // gets none of it.
    ~TRawQueueJob();
    TRawQueueJob(const TRawQueueJob&) = delete;
    TRawQueueJob& operator=(const TRawQueueJob&) = delete;

    // The byte sink's part: false once the spooler refused bytes or the
    // job was stopped, with the reason in LastError; nothing more is taken.
    bool Write(const char* data, std::int64_t size);
    bool Flush() { return FFailure.empty(); }
    const std::string& LastError() const { return FFailure; }
    // Whether Write stopped on request, and the bytes the spooler took.
    bool StoppedByUser() const { return FStoppedByUser; }
    std::int64_t Sent() const { return FSent; }

    // Ends the document, so the spooler prints it, and returns the job as the
    // spooler took it. Throws the stop (ThrowJobStopped), or EOSError when the
    // spooler did not take the whole job.
    HandedJob Finish();

private:
    std::string FDevice;
    std::unique_ptr<SpoolerHandle> FQueue;
    int FJob = 0;
    bool FPageOpen = false;
    bool FDone = false;
    std::int64_t FSent = 0;
    int FFailureCode = 0;
    std::string FFailure;
    bool FStoppedByUser = false;
    TStopMark FStop;
};
