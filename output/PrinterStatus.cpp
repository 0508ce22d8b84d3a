#include "output/PrinterStatus.h"

#include "common/Exceptions.h"
#include "platform/PrinterObject.h"

namespace {

QString ActiveDeviceName()
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

QString GetPrinterName()
{
    auto handle = OpenPrinter(ActiveDeviceName());
    if (!handle)
        return QString();
    HandleGuard guard{handle};
    const auto info = GetPrinter2(*handle);
    if (!info)
        return QStringLiteral("No printer");
    return info->PrinterName.value_or(QString());
}

QString GetQueueStatus()
{
    auto handle = OpenActivePrinter();
    HandleGuard guard{handle};
    // A count that failed is reported, not shown as an empty queue.
    const auto jobs = EnumJobs(*handle, 0, 1000);
    if (!jobs)
        ThrowLastSpoolerError();
    return *jobs > 0 ? QStringLiteral("Print") : QStringLiteral("No jobs in queue");
}

namespace {

// The printer-state-reasons that mean the device cannot be reached.
bool DeviceMissing(const PrinterInfo2& queue)
{
    for (const QString& reason : queue.StateReasons)
        if (reason.startsWith(QLatin1String("offline")) || reason.endsWith(QLatin1String("-error")))
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
    const QString what = QStringLiteral("The job %1 on %2").arg(job.Id).arg(job.Device);
    TJobOutcome outcome;
    switch (record->State) {
    case JobState::Completed: outcome.State = TJobOutcome::Completed; return outcome;
    case JobState::Aborted:
    case JobState::Canceled:
        outcome.State = TJobOutcome::Failed;
        outcome.Reason = record->DeviceMessage;
        outcome.Message =
            what
            + (record->State == JobState::Aborted ? QStringLiteral(" was aborted") : QStringLiteral(" was canceled"))
            + (outcome.Reason.isEmpty() ? QString() : QStringLiteral(": ") + outcome.Reason);
        return outcome;
    default: break;
    }
    const auto queue = GetPrinter2(*handle);
    if (!queue)
        ThrowLastSpoolerError();
    // A job back in the queue after the device said something is being
    // retried: that word is the reason it waits.
    const bool retried = record->State == JobState::Pending && !record->DeviceMessage.isEmpty();
    if (queue->Stopped || DeviceMissing(*queue) || retried) {
        outcome.Reason = queue->StateMessage.isEmpty() ? record->DeviceMessage : queue->StateMessage;
        if (outcome.Reason.isEmpty())
            outcome.Reason = queue->Stopped ? QStringLiteral("the queue is stopped") : queue->StateReasons.join(u' ');
    }
    // Stopped by the device's failure on this job, not paused by someone:
    // a paused queue's jobs only wait.
    if (queue->Stopped && !record->DeviceMessage.isEmpty()) {
        outcome.State = TJobOutcome::Stuck;
        outcome.Message = QStringLiteral("The queue %1 stopped with the job %2 inside: %3")
                              .arg(job.Device)
                              .arg(job.Id)
                              .arg(outcome.Reason);
    }
    return outcome;
}
