#include "platform/serial/PortList.h"

#include <QDir>
#include <QSerialPortInfo>

#include <algorithm>

std::vector<PortInfo> ListPorts()
{
    std::vector<PortInfo> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (!name.startsWith(QLatin1String("ttyS")) && !name.startsWith(QLatin1String("ttyUSB"))
            && !name.startsWith(QLatin1String("ttyACM")))
            continue;
        QString text = info.description();
        if (!info.manufacturer().isEmpty() && !text.contains(info.manufacturer()))
            text = info.manufacturer() + QLatin1Char(' ') + text;
        ports.push_back({info.systemLocation(), text.trimmed()});
    }
    const QDir usb(QStringLiteral("/dev/usb"));
    for (const QString& name : usb.entryList({QStringLiteral("lp*")}, QDir::System | QDir::Files))
        ports.push_back({usb.filePath(name), QStringLiteral("USB printer port")});
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.Path < b.Path; });
    return ports;
}
