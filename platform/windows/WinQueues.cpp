// The spooler backend's devices and jobs on Windows: the user's default
// printer, a printer by name with its page, and a job on it, drawn through
// the printer's driver with GDI or passed RAW in the cutter's language, as
// the device's settings say.

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

#include <cmath>

namespace {

constexpr const char* NotValid = "Printer selected is not valid";

// The printer's page as its driver describes it: the paper, the printable
// area's margins and the resolution. nullopt when the printer cannot be
// asked.
std::optional<DeviceSettings> PageOf(const std::string& name)
{
    const std::wstring wide = Wide(name);
    const HDC ic = CreateICW(L"WINSPOOL", wide.c_str(), nullptr, nullptr);
    if (!ic)
        return std::nullopt;
    const int dpiX = GetDeviceCaps(ic, LOGPIXELSX), dpiY = GetDeviceCaps(ic, LOGPIXELSY);
    const int paperW = GetDeviceCaps(ic, PHYSICALWIDTH), paperH = GetDeviceCaps(ic, PHYSICALHEIGHT);
    const int offX = GetDeviceCaps(ic, PHYSICALOFFSETX), offY = GetDeviceCaps(ic, PHYSICALOFFSETY);
    const int width = GetDeviceCaps(ic, HORZRES), height = GetDeviceCaps(ic, VERTRES);
    DeleteDC(ic);
    if (dpiX <= 0 || dpiY <= 0 || paperW <= 0 || paperH <= 0)
        return std::nullopt;
    const auto mm = [](int pixels, int dpi) { return std::round(pixels * 2540.0 / dpi) / 100; };
    DeviceSettings s = FallbackSettings();
    s.PaperWidthMm = mm(paperW, dpiX);
    s.PaperHeightMm = mm(paperH, dpiY);
    s.MarginLeftMm = mm(offX, dpiX);
    s.MarginTopMm = mm(offY, dpiY);
    s.MarginRightMm = std::max(0.0, mm(paperW - offX - width, dpiX));
    s.MarginBottomMm = std::max(0.0, mm(paperH - offY - height, dpiY));
    s.ResolutionDpi = dpiX;
    const bool a4 = std::abs(s.PaperWidthMm - 210) < 1 && std::abs(s.PaperHeightMm - 297) < 1;
    const bool letter = std::abs(s.PaperWidthMm - 215.9) < 1 && std::abs(s.PaperHeightMm - 279.4) < 1;
    s.PaperName = a4 ? "A4" : letter ? "Letter" : Format("Custom.%1x%2mm", s.PaperWidthMm, s.PaperHeightMm);
    return s;
}

std::optional<QueueDevice> Found(const std::string& name)
{
    auto handle = OpenQueue(name);
    if (!handle)
        return std::nullopt;
    const std::optional<PrinterInfo2> record = QueueRecord(*handle);
    QueueDevice device{{name, {}, {}}, QueueDefaults(name)};
    if (record) {
        // The spooler's own spelling, whatever case the user typed.
        device.Identity.Device = record->PrinterName.value_or(name);
        device.Identity.Driver = record->DriverName;
        device.Identity.Port = record->PortName;
    }
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
    DriverJob(const std::string& device, const std::string& title) : FJob(device, title, SurfaceDpi) {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override { return FJob.Finish(); }

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
    if (auto page = PageOf(name))
        return {*page};
    return {};
}

DeviceSettings QueueDefaults(const std::string& name)
{
    return PageOf(name).value_or(FallbackSettings());
}

std::unique_ptr<JobDestination> OpenQueueJob(const std::string& device, const DeviceSettings& settings,
                                             const std::string& title)
{
    if (device.empty())
        throw EPrinter(NotValid);
    if (settings.Language == SendAs::Driver)
        return std::make_unique<DriverJob>(device, title);
    return std::make_unique<RawJob>(device, settings, title);
}
