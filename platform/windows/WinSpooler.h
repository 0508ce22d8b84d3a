#pragma once

// The spooler queries on the Windows print spooler (winspool), the backend
// counterpart of platform/cups/: the same functions, filled from
// OpenPrinterW, GetPrinterW, EnumJobsW, GetJobW, EnumPrintersW and
// GetDefaultPrinterW. Failures are left in LastSpoolerError with the
// system's code and words.

#include "platform/Spooler.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

std::unique_ptr<SpoolerHandle> OpenQueue(const std::string& name);
std::optional<PrinterInfo2> QueueRecord(SpoolerHandle& handle);
// Jobs not yet done (queued, paused, printing, held by an error) among
// EnumJobsW's firstJob.. firstJob + maxJobs.
std::optional<int> QueueJobs(SpoolerHandle& handle, int firstJob, int maxJobs);
// A job the spooler no longer lists has left the queue: Completed, as the
// spooler keeps no record of how (a deleted job reads the same).
std::optional<JobRecord> QueueJob(SpoolerHandle& handle, int jobId);
// Every printer, local and connected; throws EOSError when the spooler
// cannot be asked.
std::vector<DestinationInfo> ListDestinations();

// The user's default printer; empty when none is set. Throws EOSError when
// the spooler cannot be asked.
std::string DefaultPrinterName();

// The spooler's handle of an open queue (for jobs on it).
void* QueueHandleOf(SpoolerHandle& handle);
