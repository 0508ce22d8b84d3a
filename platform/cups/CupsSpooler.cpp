// The spooler queries over IPP. A handle holds one connection to the server
// and the deadline of the whole open..close sequence.

#include "platform/Spooler.h"

#include "common/Exceptions.h"

#include "platform/cups/CupsDevices.h"
#include "platform/cups/IppClient.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"

#include <utility>

namespace {

using namespace vcups;

struct CupsHandle final : SpoolerHandle {
    QString Name;
    std::unique_ptr<Connection> Http;
};

SpoolerError& LastError()
{
    // Per thread: the status, name and dialog look-ups run on workers of their
    // own, and each reads back its own failure.
    thread_local SpoolerError e;
    return e;
}

void SetLastError(const IppError& err)
{
    LastError() = {err.Code, err.Text};
}

} // namespace

std::unique_ptr<SpoolerHandle> OpenPrinter(const QString& name)
{
    IppError err;
    if (name.isEmpty()) {
        SetLastError({IPP_STATUS_ERROR_NOT_FOUND, QStringLiteral("The printer or class does not exist.")});
        return nullptr;
    }
    // A port needs no server: its record and jobs are the program's own.
    if (IsPortDevice(name)) {
        auto port = std::make_unique<PortHandle>();
        port->Path = name;
        return port;
    }
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http) {
        SetLastError(err);
        return nullptr;
    }
    // Opening succeeds only for a destination the server knows.
    IppPtr request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    if (!http->Do(std::move(request), "/", err)) {
        SetLastError(err);
        return nullptr;
    }
    auto handle = std::make_unique<CupsHandle>();
    handle->Name = name;
    handle->Http = std::move(http);
    return handle;
}

void ClosePrinter(std::unique_ptr<SpoolerHandle>& handle)
{
    handle.reset();
}

std::optional<PrinterInfo2> GetPrinter2(SpoolerHandle& handle)
{
    if (const auto* port = dynamic_cast<const PortHandle*>(&handle))
        return PortRecord(port->Path);
    auto& h = static_cast<CupsHandle&>(handle);
    IppError err;
    IppPtr attrs = QueryDevice(*h.Http, h.Name, err);
    if (!attrs) {
        SetLastError(err);
        return std::nullopt;
    }
    return InfoFrom(attrs.get());
}

std::optional<int> EnumJobs(SpoolerHandle& handle, int firstJob, int maxJobs)
{
    if (firstJob < 0 || maxJobs < 0)
        return std::nullopt;
    if (const auto* port = dynamic_cast<const PortHandle*>(&handle))
        return firstJob == 0 && maxJobs > 0 && PortSending(port->Path) ? 1 : 0;
    auto& h = static_cast<CupsHandle&>(handle);
    IppPtr request = NewRequest(IPP_OP_GET_JOBS, h.Name);
    // Every user's jobs in any state that is not finished: pending, held,
    // processing and stopped.
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
    ippAddBoolean(request.get(), IPP_TAG_OPERATION, "my-jobs", 0);
    const long long limit = static_cast<long long>(firstJob) + maxJobs;
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit",
                  limit > 0x7fffffff ? 0x7fffffff : static_cast<int>(limit));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
    IppError err;
    IppPtr response = h.Http->Do(std::move(request), "/", err);
    if (!response) {
        SetLastError(err);
        return std::nullopt;
    }
    int count = 0;
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get()))
        if (ippGetGroupTag(a) == IPP_TAG_JOB && ippGetName(a) && qstrcmp(ippGetName(a), "job-id") == 0)
            ++count;
    count -= firstJob;
    if (count < 0)
        count = 0;
    return count < maxJobs ? count : maxJobs;
}

std::optional<JobRecord> GetJob(SpoolerHandle& handle, int jobId)
{
    if (dynamic_cast<const PortHandle*>(&handle) || jobId <= 0)
        return std::nullopt;
    auto& h = static_cast<CupsHandle&>(handle);
    IppPtr request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, h.Name);
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    static const char* const wanted[] = {"job-state", "job-printer-state-message"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    IppError err;
    IppPtr response = h.Http->Do(std::move(request), "/", err);
    if (!response) {
        SetLastError(err);
        return std::nullopt;
    }
    JobRecord job;
    ipp_attribute_t* state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
    switch (state ? ippGetInteger(state, 0) : IPP_JSTATE_PENDING) {
    case IPP_JSTATE_HELD: job.State = JobState::Held; break;
    case IPP_JSTATE_PROCESSING: job.State = JobState::Processing; break;
    case IPP_JSTATE_STOPPED: job.State = JobState::Stopped; break;
    case IPP_JSTATE_CANCELED: job.State = JobState::Canceled; break;
    case IPP_JSTATE_ABORTED: job.State = JobState::Aborted; break;
    case IPP_JSTATE_COMPLETED: job.State = JobState::Completed; break;
    default: job.State = JobState::Pending; break;
    }
    job.DeviceMessage = AttrText(response.get(), "job-printer-state-message");
    return job;
}

static HandedJob& LastHanded()
{
    // Per thread: the job is taken by the code that printed it, on its thread.
    thread_local HandedJob job;
    return job;
}

HandedJob TakeHandedJob()
{
    return std::exchange(LastHanded(), HandedJob{});
}

void NoteHandedJob(const HandedJob& job)
{
    LastHanded() = job;
}

SpoolerError LastSpoolerError()
{
    return LastError();
}

std::vector<DestinationInfo> ListDestinations()
{
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http) {
        SetLastError(err);
        throw EOSError::FromCode(err.Code, err.Text);
    }
    QString defaultName;
    if (IppPtr def = QueryDevice(*http, QString(), err))
        defaultName = AttrText(def.get(), "printer-name");

    IppPtr request = NewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", DeviceAttributeCount,
                  nullptr, DeviceAttributes);
    IppPtr response = http->Do(std::move(request), "/", err);
    if (!response) {
        SetLastError(err);
        // A server with no destinations answers "not found": an empty list.
        if (err.Code == IPP_STATUS_ERROR_NOT_FOUND)
            return {};
        throw EOSError::FromCode(err.Code, err.Text);
    }
    // One printer per group of attributes, groups separated by a null-named
    // separator.
    std::vector<DestinationInfo> list;
    IppPtr one(ippNew());
    auto flush = [&] {
        if (ippFindAttribute(one.get(), "printer-name", IPP_TAG_ZERO)) {
            DestinationInfo d;
            d.Info = InfoFrom(one.get());
            d.Name = d.Info.PrinterName.value_or(QString());
            d.IsDefault = !defaultName.isEmpty() && d.Name == defaultName;
            list.push_back(std::move(d));
        }
        one.reset(ippNew());
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get())) {
        if (ippGetGroupTag(a) != IPP_TAG_PRINTER || !ippGetName(a)) {
            flush();
            continue;
        }
        ippCopyAttribute(one.get(), a, 0);
    }
    flush();
    return list;
}
