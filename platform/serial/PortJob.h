#pragma once

// A job for a cutter on a port: the port is held from the start, so a missing
// or busy port is reported before anything is drawn; the job is drawn in the
// cutter's language and written when finished.

#include "platform/JobDestination.h"

// Throws EPrinter as OpenPort does. A port takes no driver: a device set to
// SendAs::Driver is sent HPGL.
std::unique_ptr<JobDestination> OpenPortJob(const std::string& path, const DeviceSettings& settings,
                                            const std::string& title);
