#pragma once

// Where a job goes: a spooler queue, a cutter on a port, or a file. The
// printer object opens one destination per job, draws on its canvas and
// finishes it; each kind knows only how its own bytes travel.

#include "cutter/DeviceSettings.h"
#include "cutter/DrawingSurface.h"
#include "platform/Spooler.h"

#include <memory>
#include <optional>
#include <string>

// The job is vector output, so the surface's pixel can be chosen: one pixel
// per hundredth of a millimetre makes the metric mapping exact and keeps the
// printable edges off a coarse device grid. The device's own resolution
// still travels in the settings for the driver.
inline constexpr int SurfaceDpi = 2540;

class JobDestination {
public:
    virtual ~JobDestination() = default;
    virtual DrawingSurface& Canvas() = 0;
    // Ends the drawing and hands the job over, returning the job as the
    // spooler took it (Id 0 for a file or a port); throws when it did not
    // arrive whole. A destination dropped unfinished delivers nothing.
    virtual HandedJob Finish() = 0;
    // The sheet the job is drawn on when the destination decides it rather
    // than the settings (a driver's device context), to place the plot on.
    virtual std::optional<DeviceSettings> Page() const { return std::nullopt; }
};

// A file instead of a device (written whole or not at all; "-" is standard
// output). Refuses an existing file unless replace is set, before anything
// is drawn.
std::unique_ptr<JobDestination> OpenFileJob(const std::string& path, bool replace, const DeviceSettings& settings,
                                            const std::string& title);
