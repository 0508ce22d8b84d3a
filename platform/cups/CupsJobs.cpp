#include "platform/cups/CupsJobs.h"

#include "common/Exceptions.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/IppClient.h"

namespace vcups {

int SubmitPdf(const QString& device, const DeviceSettings& settings, const QString& title, const QByteArray& pdf)
{
    IppError err;
    auto http = Connection::Open(Clock::now() + LongBudget, err);
    if (!http)
        throw EOSError::FromCode(err.Code, err.Text);
    IppPtr request = NewRequest(IPP_OP_PRINT_JOB, device);
    // The server keeps an empty job-name as given.
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.toUtf8().constData());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
    ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr, MediaKeyword(settings).constData());
    ippAddInteger(request.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested",
                  settings.Landscape ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
    // A cutter must get true sizes: never fit or fill the page.
    ippAddString(request.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "print-scaling", nullptr, "none");
    IppPtr response = http->Do(std::move(request), "/", err, pdf);
    if (!response)
        throw EOSError::FromCode(err.Code, err.Text);
    ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    return id ? ippGetInteger(id, 0) : 0;
}

} // namespace vcups
