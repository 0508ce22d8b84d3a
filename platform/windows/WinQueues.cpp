// The spooler backend's devices and jobs on Windows: the user's default
// printer, a printer by name with its page, and a job on it, drawn through
// the printer's driver with GDI (with the DEVMODE the settings carry) or
// passed RAW in the cutter's language, as the device's settings say.

#include "common/Exceptions.h"
#include "cutter/CutterSurface.h"
#include "platform/DeviceCapabilities.h"
#include "platform/JobProgress.h"
#include "platform/SpoolerBackend.h"
#include "platform/windows/GdiJob.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinRawJob.h"
#include "platform/windows/WinSpooler.h"
#include "platform/windows/WinText.h"

namespace {

constexpr const char* NotValid = "Printer selected is not valid";

std::optional<QueueDevice> Found(const std::string& name)
{
    auto handle = OpenQueue(name);
    if (!handle)
        return std::nullopt;
    const std::optional<PrinterInfo2> record = QueueRecord(*handle);
    QueueDevice device{{name, {}, {}}, DriverPage(name, {}).value_or(FallbackSettings())};
    if (record) {
        // The spooler's own spelling, whatever case the user typed.
        device.Identity.Device = record->PrinterName.value_or(name);
        device.Identity.Driver = record->DriverName;
        device.Identity.Port = record->PortName;
    }
    if (PassThroughDriver(device.Identity.Driver))
        TakeCutterLanguageDefaults(device.Settings);
    return device;
}

// The bytes of a cutter-language job, to the spooler as they are drawn.
class RawSink final : public ByteSink {
public:
    explicit RawSink(TRawQueueJob& job) : FJob(job) {}
    std::int64_t Write(const char* data, std::int64_t size) override
    {
        if (FJob.Write(data, size))
            return size;
        // A stop reads as it does for every destination, not as a failure
        // to write.
        if (FJob.StoppedByUser())
            ThrowJobStopped(FJob.Sent(), -1);
        return -1;
    }
    std::string ErrorText() const override { return FJob.LastError(); }

private:
    TRawQueueJob& FJob;
};

class RawJob final : public JobDestination {
public:
    RawJob(const std::string& device, const DeviceSettings& settings, const std::string& title)
        : FJob(device, title), FSink(FJob),
          FCutter(std::make_unique<CutterSurface>(settings, SurfaceDpi, FSink,
                                                  [stop = TStopMark()] { return stop.Stopped(); }))
    {}
    DrawingSurface& Canvas() override { return *FCutter; }
    HandedJob Finish() override
    {
        FCutter->Finish();
        FCutter.reset();
        return FJob.Finish();
    }

private:
    TRawQueueJob FJob;
    RawSink FSink;
    std::unique_ptr<CutterSurface> FCutter;
};

class DriverJob final : public JobDestination {
public:
    DriverJob(const std::string& device, const DeviceSettings& settings, const std::string& title)
        : FJob(device, title, SurfaceDpi,
               settings.DriverMode.empty() ? ModeForSheet(device, settings) : settings.DriverMode)
    {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override { return FJob.Finish(); }
    // The plot is placed on the page the device context has, whatever the
    // settings say of it.
    std::optional<DeviceSettings> Page() const override { return FJob.Page(); }

private:
    TGdiJob FJob;
};

} // namespace

QueueDevice DefaultQueue()
{
    const std::string name = DefaultPrinterName();
    if (name.empty())
        return {{}, FallbackSettings()};
    if (auto found = Found(name))
        return *found;
    // The default the system names, though the spooler cannot open it: still
    // the device, so its failures are the ones shown.
    return {{name, {}, {}}, FallbackSettings()};
}

std::optional<QueueDevice> FindQueue(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    if (auto found = Found(name))
        return found;
    const SpoolerError e = LastSpoolerError();
    if (e.Code == ERROR_INVALID_PRINTER_NAME || e.Code == ERROR_INVALID_NAME)
        return std::nullopt;
    throw EOSError::FromCode(e.Code, e.Text);
}

std::vector<DeviceSettings> QueuePapers(const std::string& name)
{
    // The driver's current page; Windows' own Print Setup offers the others.
    if (auto page = DriverPage(name, {}))
        return {*page};
    return {};
}

DeviceSettings QueueDefaults(const std::string& name)
{
    // Through the record: a driver that passes bytes through changes them.
    if (auto found = Found(name))
        return found->Settings;
    return DriverPage(name, {}).value_or(FallbackSettings());
}

std::unique_ptr<JobDestination> OpenQueueJob(const std::string& device, const DeviceSettings& settings,
                                             const std::string& title)
{
    if (device.empty())
        throw EPrinter(NotValid);
    if (settings.Language == SendAs::Driver)
        return std::make_unique<DriverJob>(device, settings, title);
    return std::make_unique<RawJob>(device, settings, title);
}
