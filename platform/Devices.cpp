// What each device offers, a port or a queue alike.

#include "platform/DeviceCapabilities.h"

#include "cutter/PrintableArea.h"
#include "platform/SpoolerBackend.h"
#include "platform/serial/PortDevices.h"

std::vector<DeviceSettings> SupportedPapers(const std::string& device)
{
    if (IsPortDevice(device))
        return {}; // a port has no driver and so no papers of its own
    return device.empty() ? std::vector<DeviceSettings>{} : QueuePapers(device);
}

DeviceSettings DefaultSettings(const std::string& device)
{
    if (IsPortDevice(device))
        return DefaultPortSettings();
    return device.empty() ? FallbackSettings() : QueueDefaults(device);
}

DeviceSettings FallbackSettings()
{
    DeviceSettings s = A4CutterSheet();
    s.ResolutionDpi = 600;
    return s;
}

std::optional<std::pair<DeviceIdentity, DeviceSettings>> FindDevice(const std::string& name)
{
    // A port needs no server; whether it is there shows when it is opened.
    if (IsPortDevice(name))
        return std::pair{DeviceIdentity{name, PortRecord(name).DriverName, name}, DefaultPortSettings()};
    if (auto queue = FindQueue(name))
        return std::pair{queue->Identity, queue->Settings};
    return std::nullopt;
}
