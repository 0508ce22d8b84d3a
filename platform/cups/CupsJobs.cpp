#include "platform/cups/CupsJobs.h"

#include "common/Exceptions.h"
#include "platform/Spooler.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/IppClient.h"

#include "platform/JobProgress.h"

#include <algorithm>
#include <optional>

namespace vcups {
namespace {

constexpr qint64 UploadChunk = 64 * 1024;

// The highest id among this user's jobs on the device, finished ones
// included; nullopt when the server cannot tell within the budget.
std::optional<int> NewestOwnJob(const QString& device)
{
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http)
        return std::nullopt;
    IppPtr request = NewRequest(IPP_OP_GET_JOBS, device);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddBoolean(request.get(), IPP_TAG_OPERATION, "my-jobs", 1);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
    IppPtr response = http->Do(std::move(request), "/", err);
    if (!response)
        return err.Code == IPP_STATUS_ERROR_NOT_FOUND ? std::optional<int>(0) : std::nullopt;
    int newest = 0;
    for (ipp_attribute_t* a = ippFirstAttribute(response.get()); a; a = ippNextAttribute(response.get()))
        if (ippGetGroupTag(a) == IPP_TAG_JOB && ippGetName(a) && qstrcmp(ippGetName(a), "job-id") == 0)
            newest = std::max(newest, ippGetInteger(a, 0));
    return newest;
}

// Failures where the server may have taken the job without our hearing so:
// the answer timed out or the connection broke after sending began. An IPP
// status from the server is a definite refusal.
bool AnswerLost(const IppError& err)
{
    return err.Code == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
}

// The job id from the answer to Print-Job; a lost answer is checked against
// the queue before it counts as a failure.
int JobFromAnswer(const IppPtr& response, const IppError& err, const QString& device, std::optional<int> before)
{
    if (response) {
        ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
        const int job = id ? ippGetInteger(id, 0) : 0;
        NoteHandedJob({device, job});
        return job;
    }
    if (AnswerLost(err) && before) {
        if (const std::optional<int> after = NewestOwnJob(device); after && *after > *before) {
            NoteHandedJob({device, *after});
            return *after;
        }
    }
    throw EOSError::FromCode(err.Code, err.Text);
}

IppPtr PrintJobRequest(const QString& device, const QString& title, const char* format)
{
    IppPtr request = NewRequest(IPP_OP_PRINT_JOB, device);
    // The server keeps an empty job-name as given.
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.toUtf8().constData());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    return request;
}

} // namespace

int SubmitJob(const QString& device, const DeviceSettings& settings, const QString& title, const char* format,
              const QByteArray& document)
{
    const std::optional<int> before = NewestOwnJob(device);

    IppError err;
    auto http = Connection::Open(Clock::now() + JobBudget(), err);
    if (!http)
        throw EOSError::FromCode(err.Code, err.Text);
    IppPtr request = PrintJobRequest(device, title, format);
    if (qstrcmp(format, "application/pdf") == 0) {
        ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, MediaKeyword(settings).constData());
        ippAddInteger(request.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
                      settings.Landscape ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
        // A cutter must get true sizes: never fit or fill the page.
        ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
    }
    // The document goes in chunks, so a long upload shows its progress and
    // can be stopped; a connection closed short of the whole document leaves
    // the server nothing to print.
    const TStopMark stop;
    IppPtr response;
    if (http->Send(std::move(request), "/", err, document.size())) {
        BeginJobProgress(document.size());
        struct ProgressEnd {
            ~ProgressEnd() { EndJobProgress(); }
        } progressEnd;
        qint64 sent = 0;
        bool written = true;
        while (written && sent < document.size()) {
            if (stop.Stopped())
                ThrowJobStopped(sent, document.size());
            const qint64 n = std::min<qint64>(UploadChunk, document.size() - sent);
            written = http->Write(document.constData() + sent, n, err);
            sent += n;
            AddJobProgress(n);
        }
        if (written)
            response = http->Answer(err);
    }
    http.reset();
    return JobFromAnswer(response, err, device, before);
}

RawJobStream::RawJobStream(const QString& device, const QString& title) : FDevice(device), FBefore(NewestOwnJob(device))
{
    IppError err;
    FHttp = Connection::Open(Clock::now() + JobBudget(), err);
    if (!FHttp
        || !FHttp->Send(PrintJobRequest(device, title, "application/vnd.cups-raw"), "/", err,
                        Connection::UnknownLength))
        throw EOSError::FromCode(err.Code, err.Text);
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    BeginJobProgress(-1);
}

RawJobStream::~RawJobStream()
{
    EndJobProgress();
}

qint64 RawJobStream::writeData(const char* data, qint64 size)
{
    IppError err;
    if (FFailure.isEmpty() && FStop.Stopped()) {
        // Given up before the end: Finish drops the connection unanswered.
        FFailureCode = 0;
        FFailure = QStringLiteral("the job was stopped");
        setErrorString(FFailure);
        return -1;
    }
    if (!FFailure.isEmpty() || !FHttp->Write(data, size, err)) {
        if (FFailure.isEmpty()) {
            FFailureCode = err.Code;
            FFailure = err.Text;
            setErrorString(err.Text);
        }
        return -1;
    }
    AddJobProgress(size);
    return size;
}

int RawJobStream::Finish()
{
    close();
    IppError err{FFailureCode, FFailure};
    IppPtr response = FFailure.isEmpty() ? FHttp->Answer(err) : IppPtr();
    FHttp.reset();
    return JobFromAnswer(response, err, FDevice, FBefore);
}

} // namespace vcups
