#pragma once

// The active device's display name and whether its queue holds jobs.

#include "platform/Spooler.h"

#include <QString>

#include <memory>

// Opens the printer object's current device in the spooler. Throws EPrinter
// when there is no device and EOSError when the spooler cannot open it.
std::unique_ptr<SpoolerHandle> OpenActivePrinter();

// The device's name from its spooler record: empty text when it cannot be
// opened, "No printer" when its record cannot be read. Throws only EPrinter
// for no device at all.
QString GetPrinterName();

// "Print" when the queue holds any job in any state, otherwise
// "No jobs in queue". Throws as OpenActivePrinter does, and EOSError when
// the jobs cannot be counted.
QString GetQueueStatus();
