// The process's printer object on CUPS: the current destination with its
// settings, and jobs drawn into PDF and submitted as one Print-Job each.

#include "common/Exceptions.h"
#include "platform/PrintableArea.h"
#include "platform/PrinterObject.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/CupsJobs.h"
#include "platform/cups/IppClient.h"
#include "platform/cups/PdfSurface.h"

#include <memory>
#include <optional>

namespace {

using namespace vcups;

// The job is vector PDF, so the surface's pixel can be chosen: one pixel per
// hundredth of a millimetre makes the metric mapping exact and keeps the
// printable edges off a coarse device grid. The device's own resolution
// still travels in the settings for the driver.
constexpr int SurfaceDpi = 2540;

const QString NoDefault = QStringLiteral("There is no default printer currently selected");
const QString InProgress = QStringLiteral("Printing in progress");
const QString NotValid = QStringLiteral("Printer selected is not valid");
const QString NotPrinting = QStringLiteral("Printer is not currently printing");

class CupsPrinter final : public TPrinter {
public:
    void GetPrinter(DeviceIdentity& identity, DeviceSettings& settings) override
    {
        EnsureDevice();
        identity = *FIdentity;
        settings = FSettings;
    }

    void SetPrinter(const DeviceIdentity& identity, const DeviceSettings& settings) override
    {
        if (FJob)
            throw EPrinter(InProgress);
        FIdentity = identity;
        FSettings = settings;
    }

    int PageWidth() override
    {
        EnsureDevice();
        return PrintableWidthPx(OrientPage(FSettings), SurfaceDpi);
    }

    int PageHeight() override
    {
        EnsureDevice();
        return PrintableHeightPx(OrientPage(FSettings), SurfaceDpi);
    }

    void BeginDoc(const QString& title) override
    {
        if (FJob)
            throw EPrinter(InProgress);
        EnsureDevice();
        // The device must exist on the server before anything is drawn.
        IppError err;
        auto http = Connection::Open(Clock::now() + LongBudget, err);
        if (!http || FIdentity->Device.isEmpty() || !QueryDevice(*http, FIdentity->Device, err))
            throw EPrinter(NotValid);
        FTitle = title;
        FJob = std::make_unique<PdfSurface>(FSettings, SurfaceDpi, title);
    }

    void EndDoc() override
    {
        if (!FJob)
            throw EPrinter(NotPrinting);
        // The job is closed whatever the spooler answers; a refusal is still
        // reported rather than passed off as a printed job.
        const QByteArray pdf = FJob->Finish();
        FJob.reset();
        SubmitPdf(FIdentity->Device, FSettings, FTitle, pdf);
    }

    bool Printing() const override { return FJob != nullptr; }

    DrawingSurface& Canvas() override
    {
        if (!FJob)
            throw EPrinter(NotPrinting);
        return *FJob;
    }

private:
    // Until a device is chosen the object follows the server's default
    // destination, asked once it exists; with none it keeps asking, so a
    // printer added later is found.
    void EnsureDevice()
    {
        if (FIdentity)
            return;
        IppError err;
        auto http = Connection::Open(Clock::now() + StatusBudget, err);
        IppPtr attrs = http ? QueryDevice(*http, QString(), err) : nullptr;
        if (!attrs)
            throw EPrinter(NoDefault);
        DeviceIdentity id = IdentityFrom(attrs.get());
        if (id.Device.isEmpty())
            throw EPrinter(NoDefault);
        FSettings = DefaultSettingsFrom(attrs.get());
        FIdentity = std::move(id);
    }

    std::optional<DeviceIdentity> FIdentity;
    DeviceSettings FSettings;
    std::unique_ptr<PdfSurface> FJob;
    QString FTitle;
};

} // namespace

TPrinter& Printer()
{
    static CupsPrinter printer;
    return printer;
}
