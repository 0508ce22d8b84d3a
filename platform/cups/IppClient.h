#pragma once

// Talking IPP to the CUPS server with a hard time limit on every exchange, so
// a server that is down, unreachable or silent costs a bounded wait, never a
// hang. The window calls none of this on its own thread; the limits are sized
// for a remote server behind a slow link. Only the server itself is asked;
// nothing goes through DNS-SD.

#include <cups/cups.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vcups {

using Clock = std::chrono::steady_clock;

// Budget for one query: a status tick (open, count, close), a device record,
// the default destination, the destination list.
std::chrono::milliseconds QueryBudget();
// Budget for handing over one job, document included.
std::chrono::milliseconds JobBudget();

struct IppError {
    int Code = 0; // IPP status, 0 when there is none
    std::string Text;
};

struct IppDeleter {
    void operator()(ipp_t* p) const noexcept { ippDelete(p); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// One connection to the current server, all of whose requests end by a
// fixed deadline.
class Connection {
public:
    // Null on failure, with err filled in.
    static std::unique_ptr<Connection> Open(Clock::time_point deadline, IppError& err);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A new deadline for the requests still to come (a job after a query).
    void SetDeadline(Clock::time_point deadline) noexcept { FDeadline = deadline; }

    // Sends request (with optional document data after it) and returns the
    // response; null on any failure, including an IPP error status.
    IppPtr Do(IppPtr request, const char* resource, IppError& err, std::string_view document = {});

    // The same in steps, for a document written while it is produced: Send
    // puts the request (the document follows in chunks of any size), Write
    // adds to the document, Answer ends it and reads the response. A
    // connection dropped before Answer leaves the server nothing to print.
    static constexpr std::int64_t UnknownLength = -1;
    bool Send(IppPtr request, const char* resource, IppError& err, std::int64_t documentLength);
    bool Write(const char* data, std::int64_t size, IppError& err);
    IppPtr Answer(IppError& err);

private:
    IppPtr Fail(IppError e, IppError& err);
    Connection(http_t* http, Clock::time_point deadline) : FHttp(http), FDeadline(deadline) {}
    http_t* FHttp;
    Clock::time_point FDeadline;
    bool FChunked = false;
};

// "ipp://localhost/printers/<name>", the form the server expects from a
// local client whatever its own host name.
std::string PrinterUri(const std::string& name);

// A request with the usual operation attributes (charset, language, and the
// printer-uri when a name is given).
IppPtr NewRequest(ipp_op_t op);
IppPtr NewRequest(ipp_op_t op, const std::string& printer);

std::string AttrText(ipp_t* response, const char* name, ipp_tag_t tag = IPP_TAG_ZERO);

} // namespace vcups
