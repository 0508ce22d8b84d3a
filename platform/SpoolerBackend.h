#pragma once

// What a spooler backend provides (platform/cups/ on Linux): its queues, their
// records and jobs, and jobs sent to them. Ports and files are not its
// business; the printer object and the spooler queries route to it only for
// devices that are queues.

#include "platform/JobDestination.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"

#include <optional>
#include <vector>

struct QueueDevice {
    DeviceIdentity Identity;
    DeviceSettings Settings; // the queue's own defaults
};

// The queue the user's print commands go to when they name none, with its
// settings. A queue named by the user but unknown to the server is still
// returned (by name, A4 settings); Device is empty when there is none at all.
// Throws EPrinter when LPDEST, PRINTER or an lpoptions file gives a value
// that names no queue (empty, or a path), and EOSError when the server cannot
// be asked.
QueueDevice DefaultQueue();
// One queue by name (any case, as the server matches names); nullopt when
// the server has none of that name. Throws EOSError when it cannot be asked.
std::optional<QueueDevice> FindQueue(const std::string& name);

// The queue's papers, and its own defaults (FallbackSettings when it cannot
// be asked).
std::vector<DeviceSettings> QueuePapers(const std::string& name);
DeviceSettings QueueDefaults(const std::string& name);

// The spooler queries for queues; failures are left in LastSpoolerError.
// ListDestinations (Spooler.h) is the backend's own too.
std::unique_ptr<SpoolerHandle> OpenQueue(const std::string& name);
std::optional<PrinterInfo2> QueueRecord(SpoolerHandle& handle);
std::optional<int> QueueJobs(SpoolerHandle& handle, int firstJob, int maxJobs);
std::optional<JobRecord> QueueJob(SpoolerHandle& handle, int jobId);
void SetLastSpoolerError(const SpoolerError& error);

// A job on the queue, drawn as the settings say: a PDF page for the driver,
// or the cutter's language passed through unchanged. Throws
// EPrinter("Printer selected is not valid") for a queue the server does not
// have, before anything is drawn; the message names the queue and where it
// was named when it is the user's default destination.
std::unique_ptr<JobDestination> OpenQueueJob(const std::string& device, const DeviceSettings& settings,
                                             const std::string& title);
