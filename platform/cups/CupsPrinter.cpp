// The process's printer object on CUPS: the current destination with its
// settings, and jobs drawn into PDF or the cutter's language and submitted
// as one Print-Job each (or written to a file).

#include "common/Exceptions.h"
#include "cutter/CutterSurface.h"
#include "cutter/PrintableArea.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobFile.h"
#include "platform/PrinterObject.h"
#include "platform/cups/CupsDevices.h"
#include "platform/cups/CupsJobs.h"
#include "platform/cups/IppClient.h"
#include "platform/cups/PdfSurface.h"
#include "platform/cups/UserDefault.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"

#include <QBuffer>

#include <memory>
#include <mutex>
#include <optional>

namespace {

using namespace vcups;

// The job is vector output, so the surface's pixel can be chosen: one pixel
// per hundredth of a millimetre makes the metric mapping exact and keeps the
// printable edges off a coarse device grid. The device's own resolution
// still travels in the settings for the driver.
constexpr int SurfaceDpi = 2540;

const QString NoDefault = QStringLiteral("There is no default printer currently selected");
const QString InProgress = QStringLiteral("Printing in progress");
const QString NotValid = QStringLiteral("Printer selected is not valid");
const QString NotPrinting = QStringLiteral("Printer is not currently printing");

// One open job: the surface it is drawn on and where its bytes go.
struct OpenJob {
    SendAs Language = SendAs::Driver;
    std::unique_ptr<PdfSurface> Pdf;
    QByteArray CutterBytes;
    QBuffer CutterSink{&CutterBytes};
    // A raw job on a queue goes to the server as it is drawn.
    std::unique_ptr<RawJobStream> Stream;
    std::unique_ptr<CutterSurface> Cutter;
    // A cutter on a port: held open from the start, so a missing or busy
    // port is reported before anything is drawn.
    std::unique_ptr<TPortLink> Port;
    PortSettings Line;

    DrawingSurface& Canvas()
    {
        if (Cutter)
            return *Cutter;
        return *Pdf;
    }
    // Ends drawing; the finished document (empty for a stream, which holds
    // none).
    QByteArray Finish()
    {
        if (Cutter) {
            Cutter->Finish();
            Cutter.reset();
            CutterSink.close();
            return std::move(CutterBytes);
        }
        return Pdf->Finish();
    }
};

class CupsPrinter final : public TPrinter {
public:
    void GetPrinter(DeviceIdentity& identity, DeviceSettings& settings) override
    {
        EnsureDevice();
        std::lock_guard lock(FMutex);
        identity = *FIdentity;
        settings = FSettings;
    }

    bool KnownPrinter(DeviceIdentity& identity, DeviceSettings& settings) override
    {
        std::lock_guard lock(FMutex);
        if (!FIdentity)
            return false;
        identity = *FIdentity;
        settings = FSettings;
        return true;
    }

    void SetPrinter(const DeviceIdentity& identity, const DeviceSettings& settings) override
    {
        std::lock_guard lock(FMutex);
        if (FJob)
            throw EPrinter(InProgress);
        FIdentity = identity;
        FSettings = settings;
    }

    int PageWidth() override
    {
        EnsureDevice();
        std::lock_guard lock(FMutex);
        return PrintableWidthPx(OrientPage(FSettings), SurfaceDpi);
    }

    int PageHeight() override
    {
        EnsureDevice();
        std::lock_guard lock(FMutex);
        return PrintableHeightPx(OrientPage(FSettings), SurfaceDpi);
    }

    void SetOutputFile(const QString& path, bool replace) override
    {
        std::lock_guard lock(FMutex);
        if (FJob)
            throw EPrinter(InProgress);
        FOutputFile = path;
        FReplaceFile = replace;
    }

    void BeginDoc(const QString& title) override
    {
        {
            // Claimed before anything slow, so a second job is refused at once.
            std::lock_guard lock(FMutex);
            if (FJob || FStarting)
                throw EPrinter(InProgress);
            FStarting = true;
        }
        struct Release {
            CupsPrinter& P;
            ~Release()
            {
                std::lock_guard lock(P.FMutex);
                P.FStarting = false;
            }
        } release{*this};

        QString device, outputFile;
        bool replace = false;
        std::unique_ptr<TPortLink> port;
        PortSettings line;
        {
            std::lock_guard lock(FMutex);
            outputFile = FOutputFile;
            replace = FReplaceFile;
        }
        if (outputFile.isEmpty()) {
            EnsureDevice();
            {
                std::lock_guard lock(FMutex);
                device = FIdentity->Device;
                line = FSettings.Line;
            }
            if (IsPortDevice(device))
                port = OpenPort(device, line);
        }
        if (outputFile.isEmpty() && !port) {
            // The device must exist on the server before anything is drawn.
            IppError err;
            auto http = Connection::Open(Clock::now() + QueryBudget(), err);
            if (!http)
                throw EOSError::FromCode(err.Code, err.Text);
            if (device.isEmpty() || !QueryDevice(*http, device, err)) {
                if (!device.isEmpty() && err.Code != IPP_STATUS_ERROR_NOT_FOUND)
                    throw EOSError::FromCode(err.Code, err.Text);
                throw EPrinter(NotValid);
            }
        } else if (!outputFile.isEmpty()) {
            // A file needs no device; the sheet is the chosen one, or A4.
            CheckJobFile(outputFile, replace);
        }
        std::unique_ptr<RawJobStream> stream;
        if (outputFile.isEmpty() && !port) {
            std::unique_lock lock(FMutex);
            const bool raw = FSettings.Language != SendAs::Driver;
            lock.unlock();
            if (raw)
                stream = std::make_unique<RawJobStream>(device, title);
        }

        std::lock_guard lock(FMutex);
        if (!outputFile.isEmpty() && !FIdentity) {
            FIdentity = DeviceIdentity{};
            FSettings = FallbackSettings();
        }
        auto job = std::make_unique<OpenJob>();
        DeviceSettings drawn = FSettings;
        if (port) {
            drawn.Language = PortLanguage(drawn);
            drawn.Line = line;
        }
        job->Language = drawn.Language;
        if (job->Language == SendAs::Driver) {
            job->Pdf = std::make_unique<PdfSurface>(drawn, SurfaceDpi, title);
        } else if (stream) {
            job->Stream = std::move(stream);
            job->Cutter = std::make_unique<CutterSurface>(drawn, SurfaceDpi, *job->Stream);
        } else {
            job->CutterSink.open(QIODevice::WriteOnly);
            job->Cutter = std::make_unique<CutterSurface>(drawn, SurfaceDpi, job->CutterSink);
        }
        job->Port = std::move(port);
        job->Line = line;
        FTitle = title;
        FJobDevice = device;
        FJobSettings = FSettings;
        FJobFile = outputFile;
        FJobReplace = replace;
        FJob = std::move(job);
    }

    void EndDoc() override
    {
        std::unique_ptr<OpenJob> job;
        {
            std::lock_guard lock(FMutex);
            if (!FJob)
                throw EPrinter(NotPrinting);
            job = std::move(FJob);
        }
        // The job is closed whatever happens next; a refusal is still
        // reported rather than passed off as a printed job.
        std::unique_ptr<RawJobStream> stream = std::move(job->Stream);
        const QByteArray document = job->Finish();
        const SendAs language = job->Language;
        if (stream) {
            job.reset();
            stream->Finish();
            return;
        }
        if (job->Port) {
            SendToPort(*job->Port, job->Line, document);
            return;
        }
        job.reset();
        if (!FJobFile.isEmpty()) {
            WriteJobFile(FJobFile, FJobReplace, document);
            return;
        }
        SubmitJob(FJobDevice, FJobSettings, FTitle,
                  language == SendAs::Driver ? "application/pdf" : "application/vnd.cups-raw", document);
    }

    bool Printing() const override
    {
        std::lock_guard lock(FMutex);
        return FJob != nullptr;
    }

    DrawingSurface& Canvas() override
    {
        std::lock_guard lock(FMutex);
        if (!FJob)
            throw EPrinter(NotPrinting);
        return FJob->Canvas();
    }

private:
    // Until a device is chosen the object follows the user's default
    // destination, asked once it exists; with none it keeps asking, so a
    // printer added later is found. The server is asked without the lock
    // held, so the window's KnownPrinter never waits on the network.
    void EnsureDevice()
    {
        {
            std::lock_guard lock(FMutex);
            if (FIdentity)
                return;
        }
        const QString chosen = UserDefaultDestination();
        IppError err;
        auto http = Connection::Open(Clock::now() + QueryBudget(), err);
        if (!http)
            throw EOSError::FromCode(err.Code, err.Text);
        IppPtr attrs = QueryDevice(*http, chosen, err);
        DeviceIdentity id;
        DeviceSettings settings = FallbackSettings();
        if (attrs) {
            id = IdentityFrom(attrs.get());
            settings = DefaultSettingsFrom(attrs.get());
        } else if (err.Code != IPP_STATUS_ERROR_NOT_FOUND) {
            throw EOSError::FromCode(err.Code, err.Text);
        } else if (!chosen.isEmpty()) {
            // Named by the user but unknown to the server: still the device
            // lp would use, so the window shows its failures, not another's.
            id.Device = chosen;
        }
        if (id.Device.isEmpty())
            throw EPrinter(NoDefault);
        if (const auto remembered = RememberedSettings(id.Device))
            settings = *remembered;
        std::lock_guard lock(FMutex);
        if (!FIdentity) {
            FIdentity = std::move(id);
            FSettings = settings;
        }
    }

    mutable std::mutex FMutex;
    std::optional<DeviceIdentity> FIdentity;
    DeviceSettings FSettings;
    std::unique_ptr<OpenJob> FJob;
    bool FStarting = false;
    QString FOutputFile;
    bool FReplaceFile = false;
    // What the open job was started with; read by EndDoc on the job's thread.
    QString FTitle;
    QString FJobDevice;
    DeviceSettings FJobSettings;
    QString FJobFile;
    bool FJobReplace = false;
};

} // namespace

TPrinter& SystemPrinter()
{
    // Never destroyed: a job thread may still be finishing as the program ends.
    static auto* printer = new CupsPrinter;
    return *printer;
}
