#pragma once

// What a device offers, for choosing its settings (paper, orientation).

#include "platform/PrinterObject.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// One entry per paper size the device supports, portrait, with the device's
// imageable area as margins and its resolution. Empty when the device is
// unknown or cannot be asked.
std::vector<DeviceSettings> SupportedPapers(const std::string& device);

// The device's own default settings; falls back to A4 with no margins.
DeviceSettings DefaultSettings(const std::string& device);

// A4 portrait with no margins: what a device that tells nothing gets.
DeviceSettings FallbackSettings();

// A device named by the user (a port, or a queue in any case) with its own
// settings; nullopt when there is no such queue. Throws EOSError when the
// server cannot be asked.
std::optional<std::pair<DeviceIdentity, DeviceSettings>> FindDevice(const std::string& name);

// A driver that hands a job's bytes to the device unchanged: a raw CUPS queue
// ("Local Raw Printer") or Windows' "Generic / Text Only". A page drawn for it
// reaches the cutter as page description and cuts nothing.
bool PassThroughDriver(std::string_view driver);
// The settings such a device starts with: HPGL, which most cutters read, on
// the whole sheet; the user can change both in Print Setup.
void TakeCutterLanguageDefaults(DeviceSettings& settings);
