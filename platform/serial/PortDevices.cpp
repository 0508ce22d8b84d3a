#include "platform/serial/PortDevices.h"

#include "platform/serial/PortSender.h"

DeviceSettings DefaultPortSettings()
{
    DeviceSettings s;
    s.PaperName = QStringLiteral("A4");
    s.PaperWidthMm = 210;
    s.PaperHeightMm = 297;
    s.Language = SendAs::HPGL;
    return s;
}

SendAs PortLanguage(const DeviceSettings& settings)
{
    return settings.Language == SendAs::Driver ? SendAs::HPGL : settings.Language;
}

PrinterInfo2 PortRecord(const QString& path)
{
    PrinterInfo2 info;
    info.PrinterName = path;
    info.DriverName = path.startsWith(QLatin1String("/dev/usb/")) ? QStringLiteral("USB printer port")
                                                                  : QStringLiteral("Serial port");
    info.PortName = path;
    info.StatusText = PortSending(path) ? QStringLiteral("Printing") : QStringLiteral("Ready");
    return info;
}
