// The spooler queries for any device: a port answers for itself, every other
// device is a queue of the spooler backend.

#include "platform/Spooler.h"

#include "platform/PrinterObject.h"
#include "platform/SpoolerBackend.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"

namespace {

SpoolerError& LastError()
{
    // Per thread: the status, name and dialog look-ups run on workers of their
    // own, and each reads back its own failure.
    thread_local SpoolerError e;
    return e;
}

} // namespace

void SetLastSpoolerError(const SpoolerError& error)
{
    LastError() = error;
}

SpoolerError LastSpoolerError()
{
    return LastError();
}

std::unique_ptr<SpoolerHandle> OpenPrinter(const std::string& name)
{
    // A port needs no server: its record and jobs are the program's own.
    if (IsPortDevice(name)) {
        auto port = std::make_unique<PortHandle>();
        port->Path = name;
        return port;
    }
    return OpenQueue(name);
}

void ClosePrinter(std::unique_ptr<SpoolerHandle>& handle)
{
    handle.reset();
}

std::optional<PrinterInfo2> GetPrinter2(SpoolerHandle& handle)
{
    if (const auto* port = dynamic_cast<const PortHandle*>(&handle))
        return PortRecord(port->Path);
    return QueueRecord(handle);
}

std::optional<int> EnumJobs(SpoolerHandle& handle, int firstJob, int maxJobs)
{
    if (firstJob < 0 || maxJobs < 0)
        return std::nullopt;
    if (const auto* port = dynamic_cast<const PortHandle*>(&handle))
        return firstJob == 0 && maxJobs > 0 && PortSending(port->Path) ? 1 : 0;
    return QueueJobs(handle, firstJob, maxJobs);
}

std::optional<JobRecord> GetJob(SpoolerHandle& handle, int jobId)
{
    if (dynamic_cast<const PortHandle*>(&handle) || jobId <= 0)
        return std::nullopt;
    return QueueJob(handle, jobId);
}
