#include "output/PrinterStatus.h"

#include "common/Exceptions.h"
#include "platform/PrinterObject.h"

namespace {

std::string ActiveDeviceName()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    Printer().GetPrinter(identity, settings);
    return identity.Device;
}

// Closes the handle on every way out.
struct HandleGuard {
    std::unique_ptr<SpoolerHandle>& Handle;
    ~HandleGuard() { ClosePrinter(Handle); }
};

[[noreturn]] void ThrowLastSpoolerError()
{
    const SpoolerError e = LastSpoolerError();
    throw EOSError::FromCode(e.Code, e.Text);
}

} // namespace

std::unique_ptr<SpoolerHandle> OpenActivePrinter()
{
    auto handle = OpenPrinter(ActiveDeviceName());
    if (!handle)
        ThrowLastSpoolerError();
    return handle;
}

std::string GetPrinterName()
{
    auto handle = OpenPrinter(ActiveDeviceName());
    if (!handle)
        return std::string();
    HandleGuard guard{handle};
    const auto info = GetPrinter2(*handle);
    if (!info)
        return "No printer";
    return info->PrinterName.value_or(std::string());
}

std::string GetQueueStatus()
{
    auto handle = OpenActivePrinter();
    HandleGuard guard{handle};
    // A count that failed is reported, not shown as an empty queue.
    const auto jobs = EnumJobs(*handle, 0, 1000);
    if (!jobs)
        ThrowLastSpoolerError();
    return *jobs > 0 ? "Print" : "No jobs in queue";
}

namespace {

// The printer-state-reasons that mean the device cannot be reached.
bool DeviceMissing(const PrinterInfo2& queue)
{
    for (const std::string& reason : queue.StateReasons)
        if (reason.starts_with("offline") || reason.ends_with("-error"))
            return true;
    return false;
}

} // namespace

TJobOutcome FollowJob(const HandedJob& job)
{
    auto handle = OpenPrinter(job.Device);
    if (!handle)
        ThrowLastSpoolerError();
    HandleGuard guard{handle};
    const auto record = GetJob(*handle, job.Id);
    if (!record)
        ThrowLastSpoolerError();
    const std::string what = Format("The job %1 on %2", job.Id, job.Device);
    TJobOutcome outcome;
    switch (record->State) {
    case JobState::Completed: outcome.State = TJobOutcome::Completed; return outcome;
    case JobState::Aborted:
    case JobState::Canceled:
        outcome.State = TJobOutcome::Failed;
        outcome.Reason = record->DeviceMessage;
        outcome.Message = what + (record->State == JobState::Aborted ? " was aborted" : " was canceled")
                          + (outcome.Reason.empty() ? std::string() : ": " + outcome.Reason);
        return outcome;
    default: break;
    }
    const auto queue = GetPrinter2(*handle);
    if (!queue)
        ThrowLastSpoolerError();
    // A job back in the queue after the device said something is being
    // retried: that word is the reason it waits.
    const bool retried = record->State == JobState::Pending && !record->DeviceMessage.empty();
    if (queue->Stopped || DeviceMissing(*queue) || retried) {
        outcome.Reason = queue->StateMessage.empty() ? record->DeviceMessage : queue->StateMessage;
        if (outcome.Reason.empty())
            outcome.Reason = queue->Stopped ? "the queue is stopped" : Join(queue->StateReasons, " ");
    }
    // Stopped by the device's failure on this job, not paused by someone:
    // a paused queue's jobs only wait.
    if (queue->Stopped && !record->DeviceMessage.empty()) {
        outcome.State = TJobOutcome::Stuck;
        outcome.Message = Format("The queue %1 stopped with the job %2 inside: %3", job.Device, job.Id, outcome.Reason);
    }
    return outcome;
}
