#include "platform/serial/PortDevices.h"

#include "cutter/PrintableArea.h"
#include "platform/serial/PortSender.h"

DeviceSettings DefaultPortSettings()
{
    DeviceSettings s = A4CutterSheet();
    s.Language = SendAs::HPGL;
    return s;
}

SendAs PortLanguage(const DeviceSettings& settings)
{
    return settings.Language == SendAs::Driver ? SendAs::HPGL : settings.Language;
}

PrinterInfo2 PortRecord(const std::string& path)
{
    PrinterInfo2 info;
    info.PrinterName = path;
    info.DriverName = path.starts_with("/dev/usb/") ? "USB printer port" : "Serial port";
    info.PortName = path;
    info.StatusText = PortSending(path) ? "Printing" : "Ready";
    return info;
}
