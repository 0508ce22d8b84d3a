#include "platform/cups/IppClient.h"

#include "common/Text.h"
#include "platform/Spooler.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vcups {
namespace {

constexpr int ServiceUnavailable = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;

// The server's text as UTF-8 whatever it sent.
std::string Text(const char* s)
{
    return s ? ValidUtf8(s, true) : std::string();
}

IppError TimedOut()
{
    return {ServiceUnavailable, "The print server did not answer in time"};
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Gives up as soon as the wait runs out instead of asking to keep waiting.
int NoMoreWaiting(http_t*, void*)
{
    return 0;
}

// No password prompts from a GUI thread.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*)
{
    return nullptr;
}

struct ServerName {
    std::string Host; // socket path, or host name / address
    int Port = 631;
};

// The server the CUPS clients would use: CUPS_SERVER first (read anew each
// time, so a changed environment is honoured), then the client configuration.
ServerName CurrentServer()
{
    ServerName s;
    const char* env = std::getenv("CUPS_SERVER");
    std::string name = (env && *env) ? env : cupsServer();
    s.Port = ippPort();
    if (!name.empty() && name[0] == '/') {
        s.Host = name;
        return s;
    }
    if (const auto v = name.find("/version="); v != std::string::npos)
        name.erase(v);
    // host:port, [v6]:port
    const auto colon = name.rfind(':');
    const auto bracket = name.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket) && name.find(':') == colon) {
        s.Port = std::atoi(name.c_str() + colon + 1);
        name.erase(colon);
    }
    if (name.size() > 1 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    s.Host = name;
    return s;
}

// Host names are looked up on a worker thread so that a slow resolver costs
// at most the caller's budget; answers are kept for the next calls.
class Resolver {
public:
    // Empty on failure or when the answer is not there yet.
    std::string NumericAddress(const ServerName& s, Clock::time_point deadline)
    {
        const std::string key = s.Host + ':' + std::to_string(s.Port);
        std::shared_ptr<Entry> e;
        {
            std::lock_guard lock(FMutex);
            auto& slot = FEntries[key];
            if (!slot || (slot->Done && slot->Address.empty() && Clock::now() - slot->When > std::chrono::seconds(2))) {
                slot = std::make_shared<Entry>();
                std::thread([e = slot, host = s.Host, port = s.Port] {
                    std::string address;
                    if (http_addrlist_t* list =
                            httpAddrGetList(host.c_str(), AF_UNSPEC, std::to_string(port).c_str())) {
                        char buf[256];
                        if (httpAddrString(&list->addr, buf, sizeof buf))
                            address = buf;
                        httpAddrFreeList(list);
                    }
                    std::lock_guard l(e->M);
                    e->Address = address;
                    e->When = Clock::now();
                    e->Done = true;
                    e->Cv.notify_all();
                }).detach();
            }
            e = slot;
        }
        std::unique_lock l(e->M);
        e->Cv.wait_until(l, deadline, [&] { return e->Done; });
        return e->Address;
    }

private:
    struct Entry {
        std::mutex M;
        std::condition_variable Cv;
        bool Done = false;
        std::string Address;
        Clock::time_point When;
    };
    std::mutex FMutex;
    std::map<std::string, std::shared_ptr<Entry>> FEntries;
};

Resolver& TheResolver()
{
    static auto* r = new Resolver; // outlives any detached look-up
    return *r;
}

bool IsNumeric(const std::string& host)
{
    return host.find_first_not_of("0123456789.:abcdefABCDEF") == std::string::npos
           && (host.find('.') != std::string::npos || host.find(':') != std::string::npos);
}

std::atomic<long long> QueryMs{SpoolerTimeLimits{}.Query.count()};
std::atomic<long long> JobMs{SpoolerTimeLimits{}.Job.count()};

} // namespace

std::chrono::milliseconds QueryBudget()
{
    return std::chrono::milliseconds(QueryMs.load());
}

std::chrono::milliseconds JobBudget()
{
    return std::chrono::milliseconds(JobMs.load());
}

std::unique_ptr<Connection> Connection::Open(Clock::time_point deadline, IppError& err)
{
    cupsSetPasswordCB2(NoPassword, nullptr);
    const ServerName server = CurrentServer();
    std::string host = server.Host;
    if (!host.empty() && host[0] != '/' && !IsNumeric(host)) {
        host = TheResolver().NumericAddress(server, deadline);
        if (host.empty()) {
            err = {ServiceUnavailable, Format("The print server %1 cannot be found", server.Host)};
            return nullptr;
        }
    }
    const int ms = MsLeft(deadline);
    if (ms <= 0) {
        err = TimedOut();
        return nullptr;
    }
    http_t* http =
        httpConnect2(host.c_str(), server.Port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, ms, nullptr);
    if (!http) {
        // The system's words for this ("Host is down", "No such file or
        // directory") do not tell a user that the print server is the problem.
        err = MsLeft(deadline) <= 0
                  ? TimedOut()
                  : IppError{ServiceUnavailable, "The print server is not running or cannot be reached"};
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(http, deadline));
}

Connection::~Connection()
{
    httpClose(FHttp);
}

IppPtr Connection::Fail(IppError e, IppError& err)
{
    err = std::move(e);
    // The connection's state is unknown now; no further request on it.
    httpShutdown(FHttp);
    return IppPtr();
}

// cupsDoRequest is not used: it waits up to a second for "100 Continue" and
// reconnects with 30-second limits, neither of which fits a bounded call.
IppPtr Connection::Do(IppPtr request, const char* resource, IppError& err, std::string_view document)
{
    const auto size = static_cast<std::int64_t>(document.size());
    if (!Send(std::move(request), resource, err, size) || (!document.empty() && !Write(document.data(), size, err)))
        return IppPtr();
    return Answer(err);
}

bool Connection::Send(IppPtr request, const char* resource, IppError& err, std::int64_t documentLength)
{
    const int ms = MsLeft(FDeadline);
    if (ms <= 0)
        return !Fail(TimedOut(), err);
    httpSetTimeout(FHttp, ms / 1000.0, NoMoreWaiting, nullptr);

    httpClearFields(FHttp);
    httpSetField(FHttp, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
    // Length 0 asks for chunks.
    FChunked = documentLength == UnknownLength;
    httpSetLength(FHttp, FChunked ? 0 : ippLength(request.get()) + static_cast<size_t>(documentLength));
    const IppError sendFailed{ServiceUnavailable, "Unable to send the request to the print server"};
    if (httpPost(FHttp, resource))
        return !Fail(sendFailed, err);
    ippSetState(request.get(), IPP_STATE_IDLE);
    for (;;) {
        const ipp_state_t state = ippWrite(FHttp, request.get());
        if (state == IPP_STATE_DATA)
            return true;
        if (state == IPP_STATE_ERROR)
            return !Fail(sendFailed, err);
    }
}

bool Connection::Write(const char* data, std::int64_t size, IppError& err)
{
    if (size <= 0)
        return true;
    if (MsLeft(FDeadline) <= 0)
        return !Fail(TimedOut(), err);
    if (httpWrite2(FHttp, data, static_cast<size_t>(size)) < 0)
        return !Fail(MsLeft(FDeadline) <= 0
                         ? TimedOut()
                         : IppError{ServiceUnavailable, "Unable to send the document to the print server"},
                     err);
    return true;
}

IppPtr Connection::Answer(IppError& err)
{
    // Ends a chunked document; nothing for one of known length.
    if (FChunked && httpWrite2(FHttp, "", 0) < 0)
        return Fail({ServiceUnavailable, "Unable to send the document to the print server"}, err);
    http_status_t status;
    do {
        status = httpUpdate(FHttp);
    } while (status == HTTP_STATUS_CONTINUE && MsLeft(FDeadline) > 0);
    if (status == HTTP_STATUS_CONTINUE || status == HTTP_STATUS_ERROR) {
        if (MsLeft(FDeadline) <= 0 || httpError(FHttp) == ETIMEDOUT)
            return Fail(TimedOut(), err);
        return Fail({ServiceUnavailable, "The print server closed the connection"}, err);
    }
    if (status != HTTP_STATUS_OK)
        return Fail({ServiceUnavailable, Text(httpStatus(status))}, err);

    IppPtr response(ippNew());
    for (;;) {
        const ipp_state_t state = ippRead(FHttp, response.get());
        if (state == IPP_STATE_DATA)
            break;
        if (state == IPP_STATE_ERROR)
            return Fail(MsLeft(FDeadline) <= 0
                            ? TimedOut()
                            : IppError{ServiceUnavailable, "Unable to read the print server's answer"},
                        err);
    }
    if (httpGetState(FHttp) != HTTP_STATE_WAITING)
        httpFlush(FHttp);

    const ipp_status_t code = ippGetStatusCode(response.get());
    if (code >= IPP_STATUS_REDIRECTION_OTHER_SITE) {
        std::string message = AttrText(response.get(), "status-message", IPP_TAG_TEXT);
        if (message.empty())
            message = Text(ippErrorString(code));
        err = {static_cast<int>(code), message};
        return IppPtr();
    }
    return response;
}

std::string PrinterUri(const std::string& name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     name.c_str());
    return std::string(uri);
}

IppPtr NewRequest(ipp_op_t op)
{
    IppPtr request(ippNewRequest(op));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

IppPtr NewRequest(ipp_op_t op, const std::string& printer)
{
    IppPtr request(ippNewRequest(op));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

std::string AttrText(ipp_t* response, const char* name, ipp_tag_t tag)
{
    ipp_attribute_t* a = ippFindAttribute(response, name, tag);
    return a ? Text(ippGetString(a, 0, nullptr)) : std::string();
}

} // namespace vcups

void SetSpoolerTimeLimits(const SpoolerTimeLimits& limits)
{
    vcups::QueryMs = limits.Query.count();
    vcups::JobMs = limits.Job.count();
}

SpoolerTimeLimits CurrentSpoolerTimeLimits()
{
    return {vcups::QueryBudget(), vcups::JobBudget()};
}
