// Jobs on a CUPS queue: a PDF page through the queue's driver, submitted
// once drawn, or the cutter's own language streamed to the server while it
// is drawn. One connection asks what the job needs before drawing: whether
// the queue is there and the newest of our jobs on it; a raw job goes on the
// same connection.

#include "common/Exceptions.h"
#include "cutter/CutterSurface.h"
#include "platform/DrawnJob.h"
#include "platform/JobProgress.h"
#include "platform/SpoolerBackend.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/IppClient.h"
#include "platform/cups/UserDefault.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace vcups {
namespace {

constexpr std::int64_t UploadChunk = 64 * 1024;

int NewestIn(ipp_t* response)
{
    int newest = 0;
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response))
        if (ippGetGroupTag(a) == IPP_TAG_JOB && ippGetName(a) && std::strcmp(ippGetName(a), "job-id") == 0)
            newest = std::max(newest, ippGetInteger(a, 0));
    return newest;
}

// The highest id among this user's jobs on the device, finished ones
// included (0 for none); nullopt with err filled in when not answered.
// Asking for every job would have the server read its whole kept history on
// each Cut, which slows every Cut as the history grows. The unfinished jobs
// are few; the finished ones come newest first, so one of them is enough.
// Unfinished first: a job that finishes in between is then still seen.
std::optional<int> AskNewestOwnJob(Connection& http, const std::string& device, IppError& err)
{
    int newest = 0;
    for (const char* which : {"not-completed", "completed"}) {
        IppPtr request = NewRequest(IPP_OP_GET_JOBS, device);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
        ippAddBoolean(request.get(), IPP_TAG_OPERATION, "my-jobs", 1);
        if (std::strcmp(which, "completed") == 0)
            ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", 1);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
        IppPtr response = http.Do(std::move(request), "/", err);
        if (!response)
            return std::nullopt;
        newest = std::max(newest, NewestIn(response.get()));
    }
    return newest;
}

// After a lost answer: the newest job now, on a connection of its own;
// nullopt when the server cannot tell within the budget.
std::optional<int> NewestOwnJob(const std::string& device)
{
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http)
        return std::nullopt;
    return AskNewestOwnJob(*http, device, err);
}

// Failures where the server may have taken the job without our hearing so:
// the answer timed out or the connection broke after sending began. An IPP
// status from the server is a definite refusal.
bool AnswerLost(const IppError& err)
{
    return err.Code == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
}

// The job from the answer to Print-Job; a lost answer is checked against
// the queue before it counts as a failure, so one Cut never gives both a job
// and an error, nor an error passed off as a job.
HandedJob JobFromAnswer(const IppPtr& response, const IppError& err, const std::string& device, int before)
{
    if (response) {
        ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
        return {device, id ? ippGetInteger(id, 0) : 0};
    }
    if (AnswerLost(err)) {
        if (const std::optional<int> after = NewestOwnJob(device); after && *after > before)
            return {device, *after};
    }
    throw EOSError::FromCode(err.Code, err.Text);
}

IppPtr PrintJobRequest(const std::string& device, const std::string& title, const char* format)
{
    IppPtr request = NewRequest(IPP_OP_PRINT_JOB, device);
    // The server keeps an empty job-name as given.
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    return request;
}

// A page for the queue's driver: drawn whole, then one Print-Job.
class PdfQueueJob final : public JobDestination {
public:
    PdfQueueJob(const std::string& device, const DeviceSettings& settings, const std::string& title, int before)
        : FDevice(device), FSettings(settings), FTitle(title), FBefore(before), FJob(settings, title)
    {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override
    {
        const std::string document = FJob.Finish();
        IppError err;
        auto http = Connection::Open(Clock::now() + JobBudget(), err);
        if (!http)
            throw EOSError::FromCode(err.Code, err.Text);
        IppPtr request = PrintJobRequest(FDevice, FTitle, "application/pdf");
        ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, MediaKeyword(FSettings).c_str());
        ippAddInteger(request.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
                      FSettings.Landscape ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
        // A cutter must get true sizes: never fit or fill the page.
        ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
        // The document goes in chunks, so a long upload shows its progress
        // and can be stopped; a connection closed short of the whole
        // document leaves the server nothing to print.
        const TStopMark stop;
        IppPtr response;
        const auto size = static_cast<std::int64_t>(document.size());
        if (http->Send(std::move(request), "/", err, size)) {
            BeginJobProgress(size);
            struct ProgressEnd {
                ~ProgressEnd() { EndJobProgress(); }
            } progressEnd;
            std::int64_t sent = 0;
            bool written = true;
            while (written && sent < size) {
                if (stop.Stopped())
                    ThrowJobStopped(sent, size);
                const std::int64_t n = std::min<std::int64_t>(UploadChunk, size - sent);
                written = http->Write(document.data() + sent, n, err);
                sent += n;
                AddJobProgress(n);
            }
            if (written)
                response = http->Answer(err);
        }
        http.reset();
        return JobFromAnswer(response, err, FDevice, FBefore);
    }

private:
    std::string FDevice;
    DeviceSettings FSettings;
    std::string FTitle;
    int FBefore;
    DrawnJob FJob;
};

// The raw job's document: bytes go to the server as they are drawn, so a
// large job is neither held in memory nor waited for twice. Dropped
// unfinished, the connection closes and the server keeps nothing.
class RawJobStream final : public ByteSink {
public:
    // Starts the Print-Job; throws EOSError when it cannot be sent.
    RawJobStream(std::unique_ptr<Connection> http, const std::string& device, const std::string& title, int before)
        : FDevice(device), FBefore(before), FHttp(std::move(http))
    {
        IppError err;
        FHttp->SetDeadline(Clock::now() + JobBudget());
        if (!FHttp->Send(PrintJobRequest(device, title, "application/vnd.cups-raw"), "/", err,
                         Connection::UnknownLength))
            throw EOSError::FromCode(err.Code, err.Text);
        BeginJobProgress(-1);
    }
    ~RawJobStream() override { EndJobProgress(); }

    // Ends the document and takes the answer.
    HandedJob Finish()
    {
        IppError err{FFailureCode, FFailure};
        IppPtr response = FFailure.empty() ? FHttp->Answer(err) : IppPtr();
        FHttp.reset();
        return JobFromAnswer(response, err, FDevice, FBefore);
    }

    std::int64_t Write(const char* data, std::int64_t size) override
    {
        IppError err;
        // Given up before the end: the connection is dropped unanswered, and
        // the stop reads as it does for every other destination, not as a
        // failure to write.
        if (FFailure.empty() && FStop.Stopped())
            ThrowJobStopped(FSent, -1);
        if (!FFailure.empty() || !FHttp->Write(data, size, err)) {
            if (FFailure.empty()) {
                FFailureCode = err.Code;
                FFailure = err.Text;
            }
            return -1;
        }
        FSent += size;
        AddJobProgress(size);
        return size;
    }
    std::string ErrorText() const override { return FFailure.empty() ? "Unknown error" : FFailure; }

private:
    std::string FDevice;
    int FBefore;
    std::unique_ptr<Connection> FHttp;
    int FFailureCode = 0;
    std::string FFailure;
    std::int64_t FSent = 0;
    TStopMark FStop;
};

class RawQueueJob final : public JobDestination {
public:
    RawQueueJob(std::unique_ptr<Connection> http, const std::string& device, const DeviceSettings& settings,
                const std::string& title, int before)
        : FStream(std::move(http), device, title, before),
          FCutter(std::make_unique<CutterSurface>(settings, SurfaceDpi, FStream,
                                                  [stop = TStopMark()] { return stop.Stopped(); }))
    {}
    DrawingSurface& Canvas() override { return *FCutter; }
    HandedJob Finish() override
    {
        FCutter->Finish();
        FCutter.reset();
        return FStream.Finish();
    }

private:
    RawJobStream FStream;
    std::unique_ptr<CutterSurface> FCutter;
};

} // namespace
} // namespace vcups

std::unique_ptr<JobDestination> OpenQueueJob(const std::string& device, const DeviceSettings& settings,
                                             const std::string& title)
{
    using namespace vcups;
    if (device.empty())
        throw EPrinter(NotValidMessage(device));
    IppError err;
    auto http = Connection::Open(Clock::now() + QueryBudget(), err);
    if (!http)
        throw EOSError::FromCode(err.Code, err.Text);
    // The queue must exist on the server before anything is drawn.
    const std::optional<int> before = AskNewestOwnJob(*http, device, err);
    if (!before) {
        if (err.Code == IPP_STATUS_ERROR_NOT_FOUND)
            throw EPrinter(NotValidMessage(device));
        throw EOSError::FromCode(err.Code, err.Text);
    }
    if (settings.Language == SendAs::Driver)
        return std::make_unique<PdfQueueJob>(device, settings, title, *before);
    return std::make_unique<RawQueueJob>(std::move(http), device, settings, title, *before);
}
