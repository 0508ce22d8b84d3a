#include "platform/DrawnJob.h"

#include "platform/JobDestination.h"
#include "platform/ProgramLibrary.h"

DrawnJob::DrawnJob(const DeviceSettings& settings, const QString& title)
{
    if (settings.Language == SendAs::Driver) {
        const auto newPdf = ProgramFunction<decltype(NewPdfSurface)>(VELLICO_PDF_LIBRARY, "NewPdfSurface");
        FPdf.reset(newPdf(settings, SurfaceDpi, title));
        return;
    }
    FSink.open(QIODevice::WriteOnly);
    FCutter = std::make_unique<CutterSurface>(settings, SurfaceDpi, FSink);
}

DrawingSurface& DrawnJob::Canvas()
{
    if (FCutter)
        return *FCutter;
    return *FPdf;
}

QByteArray DrawnJob::Finish()
{
    if (!FCutter)
        return FPdf->Finish();
    FCutter->Finish();
    FCutter.reset();
    FSink.close();
    return std::move(FBytes);
}
