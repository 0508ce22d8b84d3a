// A job drawn whole before it goes to a file or a port, on Windows: in the
// cutter's own language. A printer driver's page exists only on the way to
// that printer (GdiJob), so it is never drawn for a file.

#include "platform/DrawnJob.h"

#include "common/Exceptions.h"
#include "platform/JobDestination.h"
#include "platform/JobProgress.h"

DrawnJob::DrawnJob(const DeviceSettings& settings, const std::string& /*title*/)
{
    if (settings.Language == SendAs::Driver)
        throw EPrinter("A job for a printer's driver can only be cut on that printer; to write the job to a file, "
                       "choose the cutter's language (HPGL, DMPL, GP-GL or CAMM-GL)");
    FCutter =
        std::make_unique<CutterSurface>(settings, SurfaceDpi, FSink, [stop = TStopMark()] { return stop.Stopped(); });
}

DrawingSurface& DrawnJob::Canvas()
{
    return *FCutter;
}

std::string DrawnJob::Finish()
{
    FCutter->Finish();
    FCutter.reset();
    return FSink.Take();
}
