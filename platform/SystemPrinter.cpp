// The process's printer object: the current device with its settings, and
// each job sent to one of three destinations: the job's file when it names
// one, the device's port when the device is a port, else the spooler
// backend's queue.

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobDestination.h"
#include "platform/PrinterObject.h"
#include "platform/SpoolerBackend.h"
#include "platform/serial/PortJob.h"

#include <memory>
#include <mutex>
#include <optional>

namespace {

constexpr const char* NoDefault = "There is no default printer currently selected";
constexpr const char* InProgress = "Printing in progress";
constexpr const char* NotPrinting = "Printer is not currently printing";

class SystemPrinterObject final : public TPrinter {
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

    int PageWidth() override { return PrintableWidthPx(OrientPage(PageSettings()), SurfaceDpi); }

    int PageHeight() override { return PrintableHeightPx(OrientPage(PageSettings()), SurfaceDpi); }

    void BeginJob(const std::string& title, const JobTarget& target) override
    {
        {
            // Claimed before anything slow, so a second job is refused at once.
            std::lock_guard lock(FMutex);
            if (FJob || FStarting)
                throw EPrinter(InProgress);
            FStarting = true;
        }
        struct Release {
            SystemPrinterObject& P;
            ~Release()
            {
                std::lock_guard lock(P.FMutex);
                P.FStarting = false;
            }
        } release{*this};

        const std::string& device = target.Identity.Device;
        std::unique_ptr<JobDestination> job;
        if (!target.OutputFile.empty())
            job = OpenFileJob(target.OutputFile, target.Replace, target.Settings, title);
        else if (device.empty())
            throw EPrinter(NoDefault);
        else if (IsPortDevice(device))
            job = OpenPortJob(device, target.Settings, title);
        else
            job = OpenQueueJob(device, target.Settings, title);
        DeviceSettings page = job->Page().value_or(target.Settings);
        std::lock_guard lock(FMutex);
        FJob = std::move(job);
        FJobSettings = std::move(page);
    }

    HandedJob EndDoc() override
    {
        std::unique_ptr<JobDestination> job;
        {
            std::lock_guard lock(FMutex);
            if (!FJob)
                throw EPrinter(NotPrinting);
            job = std::move(FJob);
        }
        // The job is closed whatever happens next; a refusal is still
        // reported rather than passed off as a printed job.
        return job->Finish();
    }

    void AbortDoc() noexcept override
    {
        std::unique_ptr<JobDestination> job;
        {
            std::lock_guard lock(FMutex);
            job = std::move(FJob);
        }
        // Destroyed unfinished outside the lock: an upload under way is
        // abandoned, and the server keeps nothing of it.
        job.reset();
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
        QueueDevice found = DefaultQueue();
        if (found.Identity.Device.empty())
            throw EPrinter(NoDefault);
        if (const auto remembered = RememberedSettings(found.Identity.Device, found.Settings))
            found.Settings = *remembered;
        std::lock_guard lock(FMutex);
        if (!FIdentity) {
            FIdentity = std::move(found.Identity);
            FSettings = found.Settings;
        }
    }

    // The open job's sheet, else the current device's.
    DeviceSettings PageSettings()
    {
        {
            std::lock_guard lock(FMutex);
            if (FJob)
                return FJobSettings;
        }
        EnsureDevice();
        std::lock_guard lock(FMutex);
        return FSettings;
    }

    mutable std::mutex FMutex;
    std::optional<DeviceIdentity> FIdentity;
    DeviceSettings FSettings;
    DeviceSettings FJobSettings;
    std::unique_ptr<JobDestination> FJob;
    bool FStarting = false;
};

} // namespace

TPrinter& SystemPrinter()
{
    // Never destroyed: a job thread may still be finishing as the program ends.
    static auto* printer = new SystemPrinterObject;
    return *printer;
}
