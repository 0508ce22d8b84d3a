// The spooler queries over IPP. A handle holds one connection to the server
// and the deadline of the whole open..close sequence.

#include "common/Exceptions.h"
#include "platform/SpoolerBackend.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/IppClient.h"

#include <cstring>
#include <iterator>

namespace {

using namespace vcups;

struct CupsHandle final : SpoolerHandle {
    std::string Name;
    std::unique_ptr<Connection> Http;
    // The record as opening found it, for the first GetPrinter2: asking for
    // the name alone and then for the record would ask twice.
    IppPtr Record;
};

// What opening asks for: enough for the record, little for a status tick.
const char* const RecordAttributes[] = {"printer-name",          "printer-make-and-model", "device-uri",
                                        "printer-location",      "printer-info",           "printer-state",
                                        "printer-state-message", "printer-state-reasons"};

void SetLastError(const IppError& err)
{
    SetLastSpoolerError({err.Code, err.Text});
}

} // namespace

std::unique_ptr<SpoolerHandle> OpenQueue(const std::string& name)
{
    IppError err;
    if (name.empty()) {
        SetLastError({IPP_STATUS_ERROR_NOT_FOUND, "The printer or class does not exist."});
        return nullptr;
    }
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http) {
        SetLastError(err);
        return nullptr;
    }
    // Opening succeeds only for a destination the server knows.
    IppPtr request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, name);
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(RecordAttributes)), nullptr, RecordAttributes);
    IppPtr record = http->Do(std::move(request), "/", err);
    if (!record) {
        SetLastError(err);
        return nullptr;
    }
    auto handle = std::make_unique<CupsHandle>();
    handle->Name = name;
    handle->Http = std::move(http);
    handle->Record = std::move(record);
    return handle;
}

std::optional<PrinterInfo2> QueueRecord(SpoolerHandle& handle)
{
    auto& h = static_cast<CupsHandle&>(handle);
    IppError err;
    IppPtr attrs = h.Record ? std::move(h.Record) : QueryDevice(*h.Http, h.Name, err);
    if (!attrs) {
        SetLastError(err);
        return std::nullopt;
    }
    return InfoFrom(attrs.get());
}

std::optional<int> QueueJobs(SpoolerHandle& handle, int firstJob, int maxJobs)
{
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
        if (ippGetGroupTag(a) == IPP_TAG_JOB && ippGetName(a) && std::strcmp(ippGetName(a), "job-id") == 0)
            ++count;
    count -= firstJob;
    if (count < 0)
        count = 0;
    return count < maxJobs ? count : maxJobs;
}

std::optional<JobRecord> QueueJob(SpoolerHandle& handle, int jobId)
{
    auto& h = static_cast<CupsHandle&>(handle);
    IppPtr request = NewRequest(IPP_OP_GET_JOB_ATTRIBUTES, h.Name);
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    static const char* const wanted[] = {"job-state", "job-printer-state-message"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
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

std::vector<DestinationInfo> ListDestinations()
{
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http) {
        SetLastError(err);
        throw EOSError::FromCode(err.Code, err.Text);
    }
    std::string defaultName;
    if (IppPtr def = QueryDevice(*http, std::string(), err))
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
            d.Name = d.Info.PrinterName.value_or(std::string());
            d.IsDefault = !defaultName.empty() && d.Name == defaultName;
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
