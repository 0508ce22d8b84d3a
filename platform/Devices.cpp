// What each device offers, a port or a queue alike.

#include "platform/DeviceCapabilities.h"

#include "cutter/PrintableArea.h"
#include "platform/SpoolerBackend.h"
#include "platform/serial/PortDevices.h"

#include <algorithm>
#include <cctype>

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

bool PassThroughDriver(std::string_view driver)
{
    // Windows spells its driver's name in any case in its dialogs.
    const auto same = [driver](std::string_view name) {
        return std::equal(driver.begin(), driver.end(), name.begin(), name.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    };
    return same("Local Raw Printer") || same("Generic / Text Only");
}

void TakeCutterLanguageDefaults(DeviceSettings& s)
{
    s.Language = SendAs::HPGL;
    s.MarginLeftMm = s.MarginBottomMm = s.MarginRightMm = s.MarginTopMm = 0;
}
