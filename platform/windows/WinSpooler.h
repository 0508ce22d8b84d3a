#pragma once

// The spooler queries on the Windows print spooler (winspool), the backend
// counterpart of platform/cups/: SpoolerBackend.h's queries filled from
// OpenPrinterW, GetPrinterW, EnumJobsW, GetJobW, EnumPrintersW and
// GetDefaultPrinterW. Failures are left in LastSpoolerError with the
// system's code and words. QueueJobs counts the jobs not yet done (queued,
// paused, printing, held by an error); QueueJob reads a job the spooler no
// longer lists as Completed, as it keeps no record of how it left (a deleted
// job reads the same).

#include "platform/SpoolerBackend.h"

#include <string>

// The user's default printer; empty when none is set. Throws EOSError when
// the spooler cannot be asked.
std::string DefaultPrinterName();

// The spooler's handle of an open queue (for jobs on it).
void* QueueHandleOf(SpoolerHandle& handle);
