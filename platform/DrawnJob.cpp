#include "platform/DrawnJob.h"

#include "platform/JobDestination.h"
#include "platform/JobProgress.h"
#include "platform/ProgramLibrary.h"

DrawnJob::DrawnJob(const DeviceSettings& settings, const std::string& title)
{
    if (settings.Language == SendAs::Driver) {
        const auto newPdf = ProgramFunction<decltype(NewPdfSurface)>(VELLICO_PDF_LIBRARY, "NewPdfSurface");
        FPdf.reset(newPdf(settings, SurfaceDpi, title));
        return;
    }
    // A stop while the cuts are put in order ends the job there.
    FCutter =
        std::make_unique<CutterSurface>(settings, SurfaceDpi, FSink, [stop = TStopMark()] { return stop.Stopped(); });
}

DrawingSurface& DrawnJob::Canvas()
{
    if (FCutter)
        return *FCutter;
    return *FPdf;
}

std::string DrawnJob::Finish()
{
    if (!FCutter)
        return FPdf->Finish();
    FCutter->Finish();
    FCutter.reset();
    return FSink.Take();
}
