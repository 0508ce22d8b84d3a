#pragma once

// Handing a finished PDF job to the spooler.

#include "platform/PrinterObject.h"

#include <QByteArray>

namespace vcups {

// One Print-Job: one document, nothing scaled to fit. Returns the job id;
// throws EOSError with the server's status and message when refused.
int SubmitPdf(const QString& device, const DeviceSettings& settings, const QString& title, const QByteArray& pdf);

} // namespace vcups
