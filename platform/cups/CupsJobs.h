#pragma once

// Handing a finished job to the spooler.

#include "platform/PrinterObject.h"

#include <QByteArray>

namespace vcups {

// One Print-Job: one document in the given format ("application/pdf", or
// "application/vnd.cups-raw" for the cutter's own language), nothing scaled
// to fit. Returns the job id; throws EOSError with the server's status and
// message when refused.
//
// An answer that comes too late is not taken as a refusal: the queue is asked
// whether it now holds a new job of ours, so one Cut never gives both a job
// and an error.
int SubmitJob(const QString& device, const DeviceSettings& settings, const QString& title, const char* format,
              const QByteArray& document);

} // namespace vcups
