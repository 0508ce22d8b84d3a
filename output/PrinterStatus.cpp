#include "output/PrinterStatus.h"

#include "common/Exceptions.h"
#include "platform/PrinterObject.h"

namespace {

QString ActiveDeviceName()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    Printer().GetPrinter(identity, settings);
    return identity.Device;
}

// Closes the handle on every way out.
struct HandleGuard {
    std::unique_ptr<SpoolerHandle>& Handle;
    ~HandleGuard() { ClosePrinter(Handle); }
};

[[noreturn]] void ThrowLastSpoolerError()
{
    const SpoolerError e = LastSpoolerError();
    throw EOSError::FromCode(e.Code, e.Text);
}

} // namespace

std::unique_ptr<SpoolerHandle> OpenActivePrinter()
{
    auto handle = OpenPrinter(ActiveDeviceName());
    if (!handle)
        ThrowLastSpoolerError();
    return handle;
}

QString GetPrinterName()
{
    auto handle = OpenPrinter(ActiveDeviceName());
    if (!handle)
        return QString();
    HandleGuard guard{handle};
    const auto info = GetPrinter2(*handle);
    if (!info)
        return QStringLiteral("No printer");
    return info->PrinterName.value_or(QString());
}

QString GetQueueStatus()
{
    auto handle = OpenActivePrinter();
    HandleGuard guard{handle};
    // A count that failed is reported, not shown as an empty queue.
    const auto jobs = EnumJobs(*handle, 0, 1000);
    if (!jobs)
        ThrowLastSpoolerError();
    return *jobs > 0 ? QStringLiteral("Print") : QStringLiteral("No jobs in queue");
}
